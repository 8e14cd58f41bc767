// Opening a definition archive: the file's first bytes, the encryption test, the truck list and
// the template.
#include "editor/EditorErrors.h"
#include "editor/Patterns.h"
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <new>

namespace {

constexpr wchar_t ErrorCannotOpen[] = L"Error: Cannot open the selected file.";
constexpr wchar_t ErrorTooSmall[] = L"Error: File does not appear to be a valid SCS file (too small).";
constexpr wchar_t ErrorProtected[] = L"Error: This file is protected against editing.";
constexpr wchar_t ErrorNotValid[] = L"Error: This does not appear to be a valid SCS file.";
constexpr wchar_t ErrorPassword[] = L"This file is password protected.";
constexpr wchar_t ErrorNoDefinitions[] = L"Error: No engine or transmission definition files found in there.";

// The refusal for a file that could not be read while it was being opened.
std::wstring ReadFailure(const std::filesystem::path& path, const std::wstring& reason)
{
    return L"Error: The selected file could not be read:\r\n" + text::WideFromPath(path) + L"\r\n" + reason;
}

} // namespace

bool PellucorEditor::OpenArchive(const std::wstring& path)
{
    const std::filesystem::path filePath = text::PathFromWide(path.c_str());
    // Until the new archive is current, every way out leaves the previous one current with its
    // path, list, template and checkbox; after that, a failure leaves no archive current, as
    // the refusal for a missing template does.
    bool madeCurrent = false;
    auto refuseAfterCurrent = [this](const std::wstring& message) {
        ShowError(message);
        m_archive.reset();
        m_archivePath.clear();
        m_archiveIdentity = {};
        m_componentFiles.clear();
        return false;
    };
    try
    {
        auto stream = std::make_unique<editor::FileInputStream>(m_files);
        editor::FileInputBuffer& file = stream->File();
        // Only a regular file (also through links) is opened: a folder or a FIFO is refused
        // without blocking.
        if (!file.Open(filePath))
        {
            ShowError(ErrorCannotOpen);
            return false;
        }

        char magic[3] = {};
        stream->read(magic, sizeof(magic));
        if (file.Error() != 0)
        {
            ShowError(ReadFailure(filePath, editor::SystemError(file.Error())));
            return false;
        }
        if (!stream->good())
        {
            ShowError(ErrorTooSmall);
            return false;
        }
        if (magic[0] == 'S' && magic[1] == 'C' && magic[2] == 'S')
        {
            ShowError(ErrorProtected);
            return false;
        }
        if (!(magic[0] == 'P' && magic[1] == 'K'))
        {
            ShowError(ErrorNotValid);
            return false;
        }

        // From here the archive owns the stream, also when Create throws.
        std::shared_ptr<ZipArchive> archive = ZipArchive::Create(stream.release());
        // A directory read only in part would make a save drop the entries never seen.
        if (file.Error() != 0)
        {
            ShowError(ReadFailure(filePath, editor::SystemError(file.Error())));
            return false;
        }
        if (IsPasswordProtected(archive))
        {
            ShowError(ErrorPassword);
            return false;
        }

        m_archive = std::move(archive);
        m_archivePath = filePath;
        m_archiveIdentity = file.Identity();
        madeCurrent = true;

        const bool isScs = text::EqualsIgnoreCase(text::WideFromPath(m_archivePath.extension()), std::wstring_view(L".scs"));
        EnableChangeExtension(!isScs);
        SetChangeExtensionCheck(!isScs);

        FillTruckList();

        // A template read only in part would give new trucks incomplete copies.
        if (file.Error() != 0)
            return refuseAfterCurrent(ReadFailure(filePath, editor::SystemError(file.Error())));
        if (m_componentFiles.empty())
            return refuseAfterCurrent(ErrorNoDefinitions);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        const std::wstring message = ReadFailure(filePath, L"There is not enough memory.");
        if (madeCurrent)
            return refuseAfterCurrent(message);
        ShowError(message);
        return false;
    }
    catch (const std::exception& e)
    {
        const std::wstring message = ReadFailure(filePath, editor::ReasonOf(e));
        if (madeCurrent)
            return refuseAfterCurrent(message);
        ShowError(message);
        return false;
    }
}

bool PellucorEditor::IsPasswordProtected(std::shared_ptr<ZipArchive> archive)
{
    for (size_t i = archive->GetEntriesCount(); i-- > 0;)
        if ((archive->GetEntry(i)->GetGeneralPurposeBitFlag() & FlagEncrypted) != 0)
            return true;
    return false;
}

void PellucorEditor::FillTruckList()
{
    if (!m_archive)
        return;
    const std::vector<std::string> trucks = ScanTrucks();
    if (trucks.empty())
    {
        m_componentFiles.clear();
        return;
    }
    CollectComponentFiles(trucks.front());

    std::wstring listText;
    for (const auto& truck : trucks)
    {
        listText += text::ToWide(patterns::TruckListLine(truck));
        listText += L"\r\n";
    }
    SetTruckListText(listText);
}
