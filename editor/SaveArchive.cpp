// Applying the edited truck list to the archive and putting the result in place of the input
// file, through a temporary file in the same folder.
#include "editor/DefinitionLayout.h"
#include "editor/EditorErrors.h"
#include "editor/FileOutput.h"
#include "editor/Patterns.h"
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <unistd.h>
#include <unordered_set>

namespace {

constexpr char TempExtension[] = ".PellucorTmp";
constexpr char OutputExtension[] = ".scs";

// A name that would put entries outside its own truck folder.
bool IsUnsafeTruckName(const std::string& name)
{
    return name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos;
}

// Whether writing to `candidate` could destroy something: the input itself (by name in any
// letter case, or as the same file through a link), or whatever a symbolic link there points to.
bool IsUnusableTempPath(const std::filesystem::path& candidate, const std::filesystem::path& input)
{
    if (text::EqualsIgnoreCase(candidate.filename().native(), input.filename().native()))
        return true;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(candidate, ec);
    if (ec || !std::filesystem::exists(status))
        return false;
    if (std::filesystem::is_symlink(status))
        return true;
    return std::filesystem::equivalent(candidate, input, ec) || ec;
}

// The input path with the temporary extension; when that cannot be used, another free name in
// the same folder. Empty when none is found.
std::filesystem::path ChooseTempPath(const std::filesystem::path& input)
{
    std::filesystem::path candidate = input;
    candidate.replace_extension(TempExtension);
    if (!IsUnusableTempPath(candidate, input))
        return candidate;
    for (int n = 1; n <= 1000; ++n)
    {
        candidate = input;
        candidate.replace_extension("." + std::to_string(n) + TempExtension);
        std::error_code ec;
        const bool free = std::filesystem::symlink_status(candidate, ec).type() == std::filesystem::file_type::not_found;
        if (free && !IsUnusableTempPath(candidate, input))
            return candidate;
    }
    return {};
}

// Removes the temporary file unless the save went through.
class TempFileGuard
{
public:
    explicit TempFileGuard(std::filesystem::path path) : path(std::move(path)) {}
    ~TempFileGuard()
    {
        if (!committed)
        {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Commit() { committed = true; }

private:
    std::filesystem::path path;
    bool committed = false;
};

// Makes a rename in a folder durable; a failure here changes nothing that was saved.
void SyncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd >= 0)
    {
        ::fsync(fd);
        ::close(fd);
    }
}

std::wstring ErrorText(int error)
{
    return text::ToWide(std::strerror(error));
}

} // namespace

void PellucorEditor::RemoveTruck(std::string truck)
{
    const std::string prefix = layout::TruckFolder(truck);
    // From the back, so that the indexes still to visit stay valid.
    for (size_t i = m_archive->GetEntriesCount(); i-- > 0;)
        if (text::StartsWithIgnoreCase(m_archive->GetEntry(i)->GetFullName(), prefix))
            m_archive->RemoveEntry(i);
}

void PellucorEditor::OnSaveAndClose()
{
    if (!m_archive)
    {
        CloseDialog(DialogResultOk);
        return;
    }

    try
    {
        const std::vector<std::string> listed = patterns::ParseTruckList(text::ToNarrow(GetTruckListText()));
        if (listed.empty())
        {
            ShowError(L"Error: No truck selected in Step 2.");
            return;
        }
        for (const auto& name : listed)
        {
            if (IsUnsafeTruckName(name))
            {
                ShowError(L"Error: Invalid truck name in Step 2: " + text::ToWide(name));
                return;
            }
        }

        // Additions in list order, then removals; IndexOf's answers come from sets of
        // case-folded names.
        std::vector<std::string> archiveTrucks = ScanTrucks();
        std::unordered_set<std::string> known;
        for (const auto& truck : archiveTrucks)
            known.insert(text::FoldAscii(truck));
        for (const auto& name : listed)
        {
            std::string folded = text::FoldAscii(name);
            if (known.count(folded) != 0)
                continue;
            AddTruck(name);
            archiveTrucks.push_back(name);
            known.insert(std::move(folded));
        }
        std::unordered_set<std::string> listedFolded;
        for (const auto& name : listed)
            listedFolded.insert(text::FoldAscii(name));
        for (const auto& truck : archiveTrucks)
            if (listedFolded.count(text::FoldAscii(truck)) == 0)
                RemoveTruck(truck);

        std::filesystem::path tempPath = ChooseTempPath(m_archivePath);
        FileOutputBuffer file;
        if (tempPath.empty() || !file.Open(tempPath))
        {
            if (tempPath.empty())
            {
                tempPath = m_archivePath;
                tempPath.replace_extension(TempExtension);
            }
            ShowError(L"Error: Failed creating temp file:\r\n" + text::WideFromPath(tempPath) +
                      L"\r\n Check folder permissions, or if disk is full or unreachable.");
            return;
        }
        TempFileGuard guard(tempPath);
        const std::wstring tempName = text::WideFromPath(tempPath);

        std::ostream out(&file);
        m_archive->WriteToStream(out);
        out.flush();
        const std::istream* input = m_archive->GetInputStream();
        if (!out.good() || (input && input->bad()))
        {
            const std::wstring reason = file.Error() != 0 ? ErrorText(file.Error())
                                                          : L"The archive's data could not be read completely.";
            ShowError(L"Error: Failed writing temp file:\r\n" + tempName + L"\r\n" + reason +
                      L"\r\n The file was not changed.");
            return;
        }

        // The result keeps the input's permissions (as far as the file system allows).
        std::error_code ec;
        const auto inputStatus = std::filesystem::status(m_archivePath, ec);
        if (!ec)
            std::filesystem::permissions(tempPath, inputStatus.permissions(), std::filesystem::perm_options::replace, ec);

        // Written, flushed, synced and closed, each step checked, before the input is touched.
        if (!file.SyncAndClose())
        {
            ShowError(L"Error: Failed writing temp file to disk:\r\n" + tempName + L"\r\n" +
                      ErrorText(file.Error()) + L"\r\n The file was not changed.");
            return;
        }

        std::filesystem::path target = m_archivePath;
        if (IsChangeExtensionEnabled() && IsChangeExtensionChecked())
            target.replace_extension(OutputExtension);

        // An atomic replace: at every instant the archive exists whole under its own name or
        // under the target's.
        std::filesystem::rename(tempPath, target, ec);
        if (ec)
        {
            ShowError(L"Error: Failed moving temp file:\r\n" + tempName + L"\r\n to:\r\n" +
                      text::WideFromPath(target) + L"\r\n" + text::ToWide(ec.message()) +
                      L"\r\n The file was not changed.");
            return;
        }
        guard.Commit();
        const auto folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
        SyncFolder(folder);

        // Only now let go of the input: release the archive (closing the file), and remove the
        // input when the result went to another name.
        m_archive.reset();
        if (target != m_archivePath)
            std::filesystem::remove(m_archivePath, ec);
    }
    catch (const std::exception& e)
    {
        // The temporary file (if any) went with its guard; the input is untouched.
        ShowError(L"Error: Saving failed: " + editor::ReasonOf(e) + L"\r\n The file was not changed.");
        return;
    }

    m_archivePath.clear();
    m_componentFiles.clear();
    CloseDialog(DialogResultOk);
}
