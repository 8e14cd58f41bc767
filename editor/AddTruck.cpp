// Giving a new truck a copy of the template: its folder entry, and one stored entry per template
// record, with the unit name of each definition file rewritten for the new truck.
#include "editor/DefinitionLayout.h"
#include "editor/Patterns.h"
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"
#include "zip/StoreMethod.h"
#include "zip/mem_stream.h"

namespace {

// The narrow generic form of a relative path: its bytes, with '/' as the only separator.
std::string GenericForm(const std::filesystem::path& path)
{
    std::string form = path.generic_string();
    for (auto& c : form)
        if (c == '\\')
            c = '/';
    return form;
}

void StoreData(ZipArchiveEntry& entry, const char* data, size_t size)
{
    basic_imemstream<char> stream(data, size);
    entry.SetCompressionStream(stream, std::make_shared<StoreMethod>(), CompressAtOnce);
}

} // namespace

void PellucorEditor::AddTruck(std::string truck)
{
    const std::string truckFolder = layout::TruckFolder(truck);
    m_archive->CreateEntry(truckFolder);

    for (const auto& record : m_componentFiles)
    {
        const std::string entryName = truckFolder + GenericForm(record.relativePath);
        if (record.isDirectory)
        {
            m_archive->CreateEntry(entryName);
            continue;
        }

        const bool isDefinition = text::EqualsIgnoreCase(GenericForm(record.relativePath.extension()), ".sii");
        if (!isDefinition)
        {
            // A taken name yields no entry; the record is then passed over.
            if (auto entry = m_archive->CreateEntry(entryName))
                StoreData(*entry, record.data.data(), record.data.size());
            continue;
        }

        const std::string kind = GenericForm(*record.relativePath.begin());
        std::string content(record.data.begin(), record.data.end());
        const auto value = patterns::FindAccessoryValue(content, kind);
        if (!value)
        {
            ShowError(L"Error: Could not find accessory_" + text::ToWide(kind) + L"_data in " +
                      text::WideFromPath(record.relativePath.filename()) + L".\r\nSkipping file...");
            continue;
        }
        const std::string unitName = GenericForm(record.relativePath.stem()) + "." + truck + "." + kind;
        content.replace(value->offset, value->length, unitName);
        if (auto entry = m_archive->CreateEntry(entryName))
            StoreData(*entry, content.data(), content.size());
    }
}
