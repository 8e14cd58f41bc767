// Applying the edited truck list to the archive and putting the result in place of the input
// file, through a temporary file in the same folder.
#include "editor/DefinitionLayout.h"
#include "editor/EditorErrors.h"
#include "editor/FileOutput.h"
#include "editor/Patterns.h"
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <ostream>
#include <sys/stat.h>
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

constexpr wchar_t NotChanged[] = L"\r\n The file was not changed.";

// The n-th name the temporary file may take: the input's name with the temporary extension,
// then the same with a number before it.
std::filesystem::path TempCandidate(const std::filesystem::path& input, int n)
{
    std::filesystem::path candidate = input;
    candidate.replace_extension(n == 0 ? std::string(TempExtension) : "." + std::to_string(n) + TempExtension);
    return candidate;
}

// Removes the temporary file unless the save went through.
class TempFileGuard
{
public:
    TempFileGuard(const editor::FileOperations& ops, std::filesystem::path path) : ops(ops), path(std::move(path)) {}
    ~TempFileGuard()
    {
        if (!committed)
            ops.unlink(path.c_str());
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Commit() { committed = true; }

private:
    const editor::FileOperations& ops;
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

// Whether the file at `path` still is the opened file, unchanged: a file put in its place, one
// written to in place, or none at all must be neither overwritten nor removed.
bool IsUnchanged(const editor::FileOperations& ops, const std::filesystem::path& path,
                 const editor::FileIdentity& identity)
{
    struct stat status{};
    return ops.stat(path.c_str(), &status) == 0 && editor::FileIdentity::Of(status).SameFileAs(identity);
}

// A step of finishing the temporary file failed with a system error.
std::wstring TempFileFailure(const wchar_t* what, const std::filesystem::path& path, int error)
{
    return L"Error: " + std::wstring(what) + L":\r\n" + text::WideFromPath(path) + L"\r\n" +
           editor::SystemError(error) + NotChanged;
}

// Why writing the archive failed, when the output file itself reported nothing.
std::wstring WriteFailureReason(const ZipArchive& archive, int inputError)
{
    if (inputError != 0)
        return L"The opened file could not be read (" + editor::SystemError(inputError) + L").";
    switch (archive.GetWriteFailure())
    {
    case WriteFailure::TooManyEntries:
        return L"The archive would have too many entries for the ZIP format (at most 65,535).";
    case WriteFailure::FieldTooLong:
        return L"The name, comment or extra field of an entry is too long for the ZIP format.";
    case WriteFailure::OffsetTooLarge:
        return L"The archive would reach 4 GiB, too large for the ZIP format.";
    case WriteFailure::CodecFailed:
        return L"An entry could not be compressed (the compression library reported " +
               std::to_wstring(archive.GetWriteFailureCode()) + L").";
    case WriteFailure::SourceFailed:
        return L"The data of a new entry could not be read.";
    case WriteFailure::InputFailed:
        return L"The opened file's data could not be read completely; the file may be damaged.";
    case WriteFailure::PositionMismatch:
        return L"The temporary file's position did not match the data written to it.";
    case WriteFailure::OutputFailed:
        return L"The temporary file did not take all the data.";
    case WriteFailure::None:
        break;
    }
    return L"The archive could not be written completely.";
}

} // namespace

void PellucorEditor::RemoveTruck(std::string truck)
{
    RemoveTrucks({std::move(truck)});
}

void PellucorEditor::RemoveTrucks(const std::vector<std::string>& trucks)
{
    // An entry lies in a truck's folder when it starts with the root, the truck's name and "/"
    // (ASCII case ignored). A truck name holds no "/", so the name component right after the
    // root decides: one pass over the entries serves every truck.
    std::unordered_set<std::string> folded;
    for (const auto& truck : trucks)
        folded.insert(text::FoldAscii(truck));
    if (folded.empty())
        return;
    const size_t truckStart = layout::TruckRoot.size();
    // From the back, so that the indexes still to visit stay valid.
    for (size_t i = m_archive->GetEntriesCount(); i-- > 0;)
    {
        const auto entry = m_archive->GetEntry(i);
        const std::string_view name = entry->GetFullName();
        if (!text::StartsWithIgnoreCase(name, layout::TruckRoot))
            continue;
        const size_t slash = name.find('/', truckStart);
        if (slash == std::string_view::npos)
            continue;
        if (folded.count(text::FoldAscii(name.substr(truckStart, slash - truckStart))) != 0)
            m_archive->RemoveEntry(i);
    }
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
        const std::vector<std::string> listed = ReadTruckList();
        if (listed.empty())
        {
            ShowError(L"Error: No truck selected in Step 2.");
            return;
        }
        const std::vector<std::string> archiveTrucks = ScanTrucks();
        std::vector<std::string> additions;
        if (!CheckNewTruckNames(listed, archiveTrucks, additions) || !CheckInputUnchanged())
            return;
        EditArchive(listed, archiveTrucks, additions);

        editor::FileOutputBuffer file(m_files);
        std::filesystem::path tempPath;
        if (!CreateTempFile(file, tempPath))
            return;
        TempFileGuard guard(m_files, tempPath);
        std::filesystem::path target = m_archivePath;
        if (IsChangeExtensionEnabled() && IsChangeExtensionChecked())
            target.replace_extension(OutputExtension);
        if (!WriteTempFile(file, tempPath) || !PutInPlace(tempPath, target))
            return;
        guard.Commit();
        LetGoOfInput(target);
    }
    catch (const std::bad_alloc&)
    {
        ShowError(std::wstring(L"Error: Saving failed: There is not enough memory.") + NotChanged);
        return;
    }
    catch (const std::exception& e)
    {
        // The temporary file (if any) went with its guard; the input is untouched.
        ShowError(L"Error: Saving failed: " + editor::ReasonOf(e) + NotChanged);
        return;
    }

    m_archivePath.clear();
    m_archiveIdentity = {};
    m_componentFiles.clear();
    CloseDialog(DialogResultOk);
}

std::vector<std::string> PellucorEditor::ReadTruckList()
{
    return patterns::ParseTruckList(text::ToNarrow(GetTruckListText()));
}

bool PellucorEditor::CheckNewTruckNames(const std::vector<std::string>& listed,
                                        const std::vector<std::string>& archiveTrucks,
                                        std::vector<std::string>& additions)
{
    // IndexOf's answers come from sets of case-folded names.
    std::unordered_set<std::string> known;
    for (const auto& truck : archiveTrucks)
        known.insert(text::FoldAscii(truck));
    // A truck the list cannot hold is shown on a line that gives no name, or (a CR or LF at an
    // end of its name) a shortened one; such a name is no new truck.
    for (const auto& truck : archiveTrucks)
        if (!patterns::IsListable(truck))
            for (const auto& name : patterns::ParseTruckList(patterns::TruckListLine(truck)))
                known.insert(text::FoldAscii(name));

    // The additions, in list order, once each. Only a name about to be added must keep its
    // entries inside its own truck folder; a truck already in the archive under any name is
    // kept or removed like every other.
    for (const auto& name : listed)
    {
        if (!known.insert(text::FoldAscii(name)).second)
            continue;
        if (IsUnsafeTruckName(name))
        {
            ShowError(L"Error: Invalid truck name in Step 2: " + text::ToWide(name));
            return false;
        }
        additions.push_back(name);
    }
    return true;
}

bool PellucorEditor::CheckInputUnchanged()
{
    if (IsUnchanged(m_files, m_archivePath, m_archiveIdentity))
        return true;
    ShowError(L"Error: Another program changed the file since it was opened:\r\n" + text::WideFromPath(m_archivePath) +
              L"\r\n Nothing was saved. Open the file again to edit its current contents.");
    return false;
}

void PellucorEditor::EditArchive(const std::vector<std::string>& listed, std::vector<std::string> archiveTrucks,
                                 const std::vector<std::string>& additions)
{
    for (const auto& name : additions)
    {
        AddTruck(name);
        archiveTrucks.push_back(name);
    }
    std::unordered_set<std::string> listedFolded;
    for (const auto& name : listed)
        listedFolded.insert(text::FoldAscii(name));
    std::vector<std::string> dropped;
    for (const auto& truck : archiveTrucks)
        if (listedFolded.count(text::FoldAscii(truck)) == 0 && patterns::IsListable(truck))
            dropped.push_back(truck);
    RemoveTrucks(dropped);
}

// Creates the temporary file beside the input. A plain file left at the name by an earlier save
// is replaced; anything else there (the input itself, also through another name, a link, a
// folder, a FIFO, a socket, a device) is left alone and the next free name is taken. The file is
// only ever created new, so nothing that appears at the name meanwhile is opened either.
bool PellucorEditor::CreateTempFile(editor::FileOutputBuffer& file, std::filesystem::path& path)
{
    const auto refuse = [this](const std::filesystem::path& named) {
        ShowError(L"Error: Failed creating temp file:\r\n" + text::WideFromPath(named) +
                  L"\r\n Check folder permissions, or if disk is full or unreachable.");
        return false;
    };
    for (int n = 0; n <= 1000; ++n)
    {
        path = TempCandidate(m_archivePath, n);
        if (text::EqualsIgnoreCase(path.filename().native(), m_archivePath.filename().native()))
            continue;
        struct stat status{};
        if (m_files.lstat(path.c_str(), &status) == 0)
        {
            const bool leftover = S_ISREG(status.st_mode) && !(status.st_dev == m_archiveIdentity.device &&
                                                                status.st_ino == m_archiveIdentity.inode);
            if (!leftover || (m_files.unlink(path.c_str()) != 0 && errno != ENOENT))
                continue;
        }
        if (file.Create(path))
            return true;
        if (file.Error() != EEXIST)
            return refuse(path);
    }
    return refuse(TempCandidate(m_archivePath, 0));
}

// Writes the archive into the temporary file, gives it the input's owner, group and mode, and
// forces it to the disk and closes it, each step checked, before anything on disk is touched.
bool PellucorEditor::WriteTempFile(editor::FileOutputBuffer& file, const std::filesystem::path& path)
{
    auto* input = dynamic_cast<editor::FileInputStream*>(m_archive->GetInputStream());
    if (input)
        input->File().ClearError();
    std::ostream out(&file);
    m_archive->WriteToStream(out);
    out.flush();
    const int inputError = input ? input->File().Error() : 0;
    const bool written = out.good() && file.Flush() && inputError == 0;
    // A file changed under the archive explains any failure best, and spoils any success.
    if (!CheckInputUnchanged())
        return false;
    if (!written)
    {
        ShowError(file.Error() != 0 ? TempFileFailure(L"Failed writing temp file", path, file.Error())
                                    : L"Error: The archive could not be saved:\r\n" +
                                          WriteFailureReason(*m_archive, inputError) + NotChanged);
        return false;
    }
    if (!file.SetOwnerAndMode(m_archiveIdentity.owner, m_archiveIdentity.group, m_archiveIdentity.mode))
    {
        ShowError(TempFileFailure(L"Failed writing temp file", path, file.Error()));
        return false;
    }
    const bool synced = file.Sync();
    if (!file.Close() || !synced)
    {
        ShowError(TempFileFailure(L"Failed writing temp file to disk", path, file.Error()));
        return false;
    }
    return true;
}

// Moves the finished temporary file to the target name: an atomic replace, so that at every
// instant the archive exists whole under its own name or under the target's.
bool PellucorEditor::PutInPlace(const std::filesystem::path& tempPath, const std::filesystem::path& target)
{
    if (!CheckInputUnchanged())
        return false;
    if (m_files.rename(tempPath.c_str(), target.c_str()) != 0)
    {
        const int error = errno;
        ShowError(L"Error: Failed moving temp file:\r\n" + text::WideFromPath(tempPath) + L"\r\n to:\r\n" +
                  text::WideFromPath(target) + L"\r\n" + editor::SystemError(error) + NotChanged);
        return false;
    }
    return true;
}

// Only once the result is in place: make that durable, release the archive (closing the file),
// and remove the input when the result went to another name, unless it is no longer the opened
// file.
void PellucorEditor::LetGoOfInput(const std::filesystem::path& target)
{
    SyncFolder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
    m_archive.reset();
    if (target != m_archivePath && IsUnchanged(m_files, m_archivePath, m_archiveIdentity))
        m_files.unlink(m_archivePath.c_str());
}
