#pragma once
// The editor with an in-memory window: every message box is recorded, the list text and the
// checkbox are plain fields, and ending the dialog records its result.
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <string>
#include <vector>

class RecordingEditor : public PellucorEditor
{
public:
    std::vector<std::wstring> errors;
    std::wstring listText;
    bool extensionEnabled = true; // the dialog starts enabled and ticked
    bool extensionChecked = true;
    int closedWith = 0;           // 0 while the dialog is open

    using PellucorEditor::m_archive;
    using PellucorEditor::m_componentFiles;
    using PellucorEditor::m_files; // the file system calls, for failures made on purpose

    bool Open(const std::filesystem::path& path) { return OpenArchive(text::WideFromPath(path)); }

protected:
    void ShowError(const std::wstring& text) override { errors.push_back(text); }
    std::wstring GetTruckListText() override { return listText; }
    void SetTruckListText(const std::wstring& text) override { listText = text; }
    void EnableChangeExtension(bool enable) override { extensionEnabled = enable; }
    bool IsChangeExtensionEnabled() override { return extensionEnabled; }
    void SetChangeExtensionCheck(bool checked) override { extensionChecked = checked; }
    bool IsChangeExtensionChecked() override { return extensionChecked; }
    void CloseDialog(int result) override { closedWith = result; }
};
