// Opening a definition archive: the file's first bytes, the encryption test, the truck list and
// the template.
#include "editor/EditorErrors.h"
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <fstream>

namespace {

constexpr wchar_t ErrorCannotOpen[] = L"Error: Cannot open the selected file.";
constexpr wchar_t ErrorTooSmall[] = L"Error: File does not appear to be a valid SCS file (too small).";
constexpr wchar_t ErrorProtected[] = L"Error: This file is protected against editing.";
constexpr wchar_t ErrorNotValid[] = L"Error: This does not appear to be a valid SCS file.";
constexpr wchar_t ErrorPassword[] = L"This file is password protected.";
constexpr wchar_t ErrorNoDefinitions[] = L"Error: No engine or transmission definition files found in there.";

bool IsRegularFile(const std::filesystem::path& path)
{
    // A folder opens as a stream without error here, and a pipe would block: only plain files
    // (also through links) are read.
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) && !ec;
}

} // namespace

bool PellucorEditor::OpenArchive(const std::wstring& path)
{
    // An exception past the first checks (allocation, the library, the streams) leaves no
    // archive current, as the refusal for a missing template does.
    try
    {
        const std::filesystem::path filePath = text::PathFromWide(path.c_str());
        auto stream = std::make_unique<std::ifstream>();
        if (IsRegularFile(filePath))
            stream->open(filePath, std::ios::in | std::ios::binary);
        if (!stream->is_open())
        {
            ShowError(ErrorCannotOpen);
            return false;
        }

        char magic[3] = {};
        stream->read(magic, sizeof(magic));
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
        if (IsPasswordProtected(archive))
        {
            ShowError(ErrorPassword);
            return false;
        }

        m_archive = std::move(archive);
        m_archivePath = filePath;

        const bool isScs = text::EqualsIgnoreCase(text::WideFromPath(m_archivePath.extension()), std::wstring_view(L".scs"));
        EnableChangeExtension(!isScs);
        SetChangeExtensionCheck(!isScs);

        FillTruckList();

        if (m_componentFiles.empty())
        {
            ShowError(ErrorNoDefinitions);
            m_archive.reset();
            m_archivePath.clear();
            return false;
        }
        return true;
    }
    catch (const std::exception& e)
    {
        m_archive.reset();
        m_archivePath.clear();
        m_componentFiles.clear();
        ShowError(L"Error: The selected file could not be read: " + editor::ReasonOf(e));
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
        listText += text::ToWide(truck);
        listText += L"\r\n";
    }
    SetTruckListText(listText);
}
