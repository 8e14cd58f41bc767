#pragma once
// The editor's logic: open a definition archive, list its trucks, keep the first truck's
// engine and transmission files as the template, add and remove trucks, save. It knows no
// window type: the dialog derives from it and supplies the window operations below.
#include "editor/FileInput.h"
#include "editor/FileOperations.h"
#include "zip/ZipArchive.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace editor {
class FileOutputBuffer;
}

// One file or folder of the template truck, held in memory.
struct ComponentFile
{
    std::vector<char> data;
    std::filesystem::path relativePath; // below the truck folder, starting with the kind word
    bool isDirectory = false;
};

class PellucorEditor
{
public:
    // The result "Save and close" ends the dialog with: the dialog's OK (1).
    static constexpr int DialogResultOk = 1;

    virtual ~PellucorEditor();

    bool OpenArchive(const std::wstring& path);
    static bool IsPasswordProtected(std::shared_ptr<ZipArchive> archive);
    void FillTruckList();

    std::vector<std::string> ScanTrucks();
    bool TruckHasComponents(const std::string& truck);
    void CollectComponentFiles(const std::string& truck);
    static int IndexOf(const std::vector<std::string>& list, const std::string& name);

    void AddTruck(std::string truck);
    void RemoveTruck(std::string truck);
    // RemoveTruck for each of the trucks, in one pass over the entries.
    void RemoveTrucks(const std::vector<std::string>& trucks);
    void OnSaveAndClose();

    const std::filesystem::path& GetArchivePath() const { return m_archivePath; }
    bool HasArchive() const { return m_archive != nullptr; }

protected:
    // Window operations. ShowError is a modal box with the caption "Error" and the error icon.
    virtual void ShowError(const std::wstring& text) = 0;
    virtual std::wstring GetTruckListText() = 0;
    virtual void SetTruckListText(const std::wstring& text) = 0;
    virtual void EnableChangeExtension(bool enable) = 0;
    virtual bool IsChangeExtensionEnabled() = 0;
    virtual void SetChangeExtensionCheck(bool checked) = 0;
    virtual bool IsChangeExtensionChecked() = 0;
    // Ends the modal dialog with `result`; the editor only ever ends it with DialogResultOk.
    virtual void CloseDialog(int result) = 0;

    // The file system calls that opening and saving use; copied into each file they open.
    editor::FileOperations m_files = editor::SystemFileOperations();

    std::shared_ptr<ZipArchive> m_archive;
    std::filesystem::path m_archivePath;
    // The current archive's file as it was opened; a save writes only while the file on disk
    // still is that file, unchanged.
    editor::FileIdentity m_archiveIdentity;
    std::vector<ComponentFile> m_componentFiles;

private:
    // The steps of OnSaveAndClose. Each step that can stop the save shows why and returns false.
    std::vector<std::string> ReadTruckList();
    bool CheckNewTruckNames(const std::vector<std::string>& listed, const std::vector<std::string>& archiveTrucks,
                            std::vector<std::string>& additions);
    bool CheckInputUnchanged();
    void EditArchive(const std::vector<std::string>& listed, std::vector<std::string> archiveTrucks,
                     const std::vector<std::string>& additions);
    bool CreateTempFile(editor::FileOutputBuffer& file, std::filesystem::path& path);
    bool WriteTempFile(editor::FileOutputBuffer& file, const std::filesystem::path& path);
    bool PutInPlace(const std::filesystem::path& tempPath, const std::filesystem::path& target);
    void LetGoOfInput(const std::filesystem::path& target);
};
