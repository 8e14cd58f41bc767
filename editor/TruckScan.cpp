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

// Whether the entry is a file in a component folder of a truck: the name component right after
// the root is the truck (a truck name holds no '/'), followed by a kind word and '/'. The truck
// name is put in `truck`.
bool IsComponentFile(const ZipArchiveEntry& entry, std::string_view& truck)
{
    if (entry.IsDirectory())
        return false;
    const std::string_view name = entry.GetFullName();
    if (!text::StartsWithIgnoreCase(name, layout::TruckRoot))
        return false;
    const size_t truckStart = layout::TruckRoot.size();
    const size_t slash = name.find('/', truckStart);
    if (slash == std::string_view::npos || slash == truckStart)
        return false;
    const std::string_view rest = name.substr(slash + 1);
    for (const auto kind : layout::ComponentKinds)
    {
        if (text::StartsWithIgnoreCase(rest, kind) && rest.size() > kind.size() && rest[kind.size()] == '/')
        {
            truck = name.substr(truckStart, slash - truckStart);
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<std::string> PellucorEditor::ScanTrucks()
{
    // Same result as asking TruckHasComponents and IndexOf for every matching entry, in one
    // linear pass: whether a truck has component files does not depend on the letter case of
    // the name asked for, so each truck's first spelling is noted, and the trucks without
    // component files are dropped at the end.
    std::vector<std::pair<std::string, std::string>> candidates; // folded name, first spelling
    std::unordered_set<std::string> seen;
    std::unordered_set<std::string> withComponents;
    const size_t count = m_archive->GetEntriesCount();
    for (size_t i = 0; i < count; ++i)
    {
        const auto entry = m_archive->GetEntry(i);
        std::string_view truck;
        if (IsComponentFile(*entry, truck))
            withComponents.insert(text::FoldAscii(truck));
        const auto candidate = patterns::MatchTruckFolder(entry->GetFullName());
        if (!candidate)
            continue;
        std::string folded = text::FoldAscii(*candidate);
        if (seen.insert(folded).second)
            candidates.emplace_back(std::move(folded), std::string(*candidate));
    }
    std::vector<std::string> trucks;
    for (auto& [folded, spelling] : candidates)
        if (withComponents.count(folded) != 0)
            trucks.push_back(std::move(spelling));
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
