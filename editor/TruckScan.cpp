// Finding the trucks of the current archive that carry engine or transmission files, and
// reading one truck's files into memory as the template for new trucks.
#include "editor/DefinitionLayout.h"
#include "editor/Patterns.h"
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <unordered_set>

PellucorEditor::~PellucorEditor() = default;

int PellucorEditor::IndexOf(const std::vector<std::string>& list, const std::string& name)
{
    for (size_t i = list.size(); i-- > 0;)
        if (text::EqualsIgnoreCase(list[i], name))
            return static_cast<int>(i);
    return -1;
}

namespace {

// The case-folded names of all trucks that hold at least one non-folder entry in a component
// folder. A truck name holds no '/', so such an entry's truck is the name component right after
// the root; one pass over the entries answers every later question in constant time.
std::unordered_set<std::string> TrucksWithComponents(const ZipArchive& archive)
{
    std::unordered_set<std::string> trucks;
    const size_t count = archive.GetEntriesCount();
    for (size_t i = 0; i < count; ++i)
    {
        const auto entry = archive.GetEntry(i);
        if (entry->IsDirectory())
            continue;
        const std::string& name = entry->GetFullName();
        if (!text::StartsWithIgnoreCase(name, layout::TruckRoot))
            continue;
        const size_t truckStart = layout::TruckRoot.size();
        const size_t slash = name.find('/', truckStart);
        if (slash == std::string::npos || slash == truckStart)
            continue;
        const std::string_view rest = std::string_view(name).substr(slash + 1);
        for (const auto kind : layout::ComponentKinds)
        {
            if (text::StartsWithIgnoreCase(rest, kind) && rest.size() > kind.size() && rest[kind.size()] == '/')
            {
                trucks.insert(text::FoldAscii(std::string_view(name).substr(truckStart, slash - truckStart)));
                break;
            }
        }
    }
    return trucks;
}

} // namespace

std::vector<std::string> PellucorEditor::ScanTrucks()
{
    // Same result as asking TruckHasComponents and IndexOf for every matching entry, in linear
    // time: both questions are answered from sets of case-folded names.
    std::vector<std::string> trucks;
    const auto withComponents = TrucksWithComponents(*m_archive);
    std::unordered_set<std::string> listed;
    const size_t count = m_archive->GetEntriesCount();
    for (size_t i = 0; i < count; ++i)
    {
        const auto entry = m_archive->GetEntry(i);
        const auto candidate = patterns::MatchTruckFolder(entry->GetFullName());
        if (!candidate)
            continue;
        std::string folded = text::FoldAscii(*candidate);
        if (withComponents.count(folded) == 0)
            continue;
        if (listed.insert(std::move(folded)).second)
            trucks.emplace_back(*candidate);
    }
    return trucks;
}

bool PellucorEditor::TruckHasComponents(const std::string& truck)
{
    const auto prefixes = layout::ComponentFolders(truck);

    const size_t count = m_archive->GetEntriesCount();
    for (size_t i = 0; i < count; ++i)
    {
        const auto entry = m_archive->GetEntry(i);
        if (entry->IsDirectory())
            continue;
        for (const auto& prefix : prefixes)
            if (text::StartsWithIgnoreCase(entry->GetFullName(), prefix))
                return true;
    }
    return false;
}

void PellucorEditor::CollectComponentFiles(const std::string& truck)
{
    m_componentFiles.clear();
    const size_t cut = layout::TruckFolder(truck).size();
    const auto prefixes = layout::ComponentFolders(truck);

    const size_t count = m_archive->GetEntriesCount();
    for (size_t i = 0; i < count; ++i)
    {
        const auto entry = m_archive->GetEntry(i);
        const std::string& name = entry->GetFullName();
        for (const auto& prefix : prefixes)
        {
            if (!text::StartsWithIgnoreCase(name, prefix))
                continue;
            ComponentFile record;
            record.isDirectory = entry->IsDirectory();
            record.relativePath = std::filesystem::path(name.substr(cut));
            if (!record.isDirectory)
            {
                // The checking read: damaged data, or data this library cannot decode, counts as
                // data that cannot be opened. Such a file is kept (empty) only when it is empty
                // by its header; otherwise it stays out of the template.
                std::vector<char> data;
                if (entry->ReadVerifiedData(data))
                    record.data = std::move(data);
                else if (entry->GetUncompressedSize() != 0)
                    continue;
            }
            m_componentFiles.push_back(std::move(record));
            break;
        }
    }
}
