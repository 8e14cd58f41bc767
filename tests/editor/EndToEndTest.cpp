// The whole road on archives that the peer tools write: open, edit the list, save, and read the
// result back with Python's zipfile, for every tool, every method, with and without folder
// entries, CRLF and LF files and names in mixed letter case.
#include "RecordingEditor.h"
#include "SampleArchives.h"

#include <set>

using testutil::ArchiveMethod;
using testutil::ArchiveTool;
using testutil::ListedEntry;
using testutil::SampleEntry;

namespace {

const std::string Root = "def/vehicle/truck/";

// Template files: "{UNIT}" stands for the unit name, which is "<stem>.<truck>.<kind>".
struct DefinitionFile
{
    std::string name; // below the trucks' root
    std::string text;
};

std::string Filler(const std::string& lineEnd)
{
    std::string filler;
    for (int i = 0; i < 60; ++i)
        filler += "\tinfo[]: \"line " + std::to_string(i % 7) + " of a definition\"" + lineEnd;
    return filler;
}

const std::vector<DefinitionFile>& Files()
{
    static const std::vector<DefinitionFile> files = {
        {"bravo/data.sii", "not part of the template\r\n"},
        {"bravo/engine/e400.sii", "SiiNunit\r\n{\r\nengine_data : {UNIT}\r\n{\r\n\taccessory_engine_data: {UNIT}\r\n" +
                                      Filler("\r\n") + "}\r\n}\r\n"},
        {"bravo/engine/e500.sii", "# accessory_engine_data: old.unit\n\taccessory_engine_data :\t{UNIT}   # note\n" +
                                      Filler("\n")},
        {"bravo/engine/sub/e600.SII", Filler("\n") + "x accessory_engine_data: {UNIT}\r\r\n"},
        {"bravo/transmission/t12.sii", "accessory_transmission_data: {UNIT}\n" + Filler("\n") +
                                           "accessory_transmission_data: second.bravo.transmission\n"},
        {"bravo/transmission/readme.txt", "plain {UNIT} text stays\n"},
        {"Beta/engine/b.sii", "accessory_engine_data: {UNIT}\n"},
        {"Beta/cabin.sii", "cabin\n"},
        {"betamax/transmission/bm.sii", "accessory_transmission_data: {UNIT}\n" + Filler("\n")},
        {"BRAVO/engine/x.sii", "accessory_engine_data: {UNIT}\r\n"},
        {"delta/data.sii", "no components\n"},
    };
    return files;
}

const std::vector<std::string> Folders = {
    "def/", "def/vehicle/", Root, Root + "bravo/", Root + "bravo/engine/", Root + "bravo/engine/sub/",
    Root + "bravo/transmission/", Root + "Beta/", Root + "Beta/engine/", Root + "betamax/",
    Root + "betamax/transmission/", Root + "BRAVO/", Root + "BRAVO/engine/", Root + "delta/",
};

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The file's text as the given truck has it: only the first "{UNIT}" of a definition file is
// the accessory value, a second placeholder (in the e400 header line) is only text.
std::string TextFor(const std::string& name, const std::string& truck, bool rewritten)
{
    for (const auto& f : Files())
    {
        if (f.name != name)
            continue;
        const std::string rel = f.name.substr(f.name.find('/') + 1);
        const std::string kind = rel.substr(0, rel.find('/'));
        const std::string file = rel.substr(rel.rfind('/') + 1);
        const std::string stem = file.substr(0, file.rfind('.'));
        const std::string owner = f.name.substr(0, f.name.find('/'));
        std::string text = Replace(f.text, "{UNIT}", stem + "." + owner + "." + kind);
        const std::string extension = file.substr(file.rfind('.'));
        const bool isDefinition = extension == ".sii" || extension == ".SII";
        if (rewritten && isDefinition)
        {
            const std::string oldUnit = stem + "." + owner + "." + kind;
            const size_t at = text.find(oldUnit, text.find("accessory_"));
            text.replace(at, oldUnit.size(), stem + "." + truck + "." + kind);
        }
        return text;
    }
    ADD_FAILURE() << "no such file " << name;
    return {};
}

struct Variant
{
    ArchiveTool tool;
    ArchiveMethod method;
    bool folders;
};

void PrintTo(const Variant& v, std::ostream* out)
{
    *out << testutil::ToolName(v.tool) << " " << testutil::MethodName(v.method) << (v.folders ? " with folders" : "");
}

std::string VariantName(const testing::TestParamInfo<Variant>& info)
{
    return std::string(testutil::ToolName(info.param.tool)) + "_" + testutil::MethodName(info.param.method) +
           (info.param.folders ? "_folders" : "_nofolders");
}

std::vector<Variant> AllVariants()
{
    std::vector<Variant> variants;
    for (auto tool : {ArchiveTool::Python, ArchiveTool::InfoZip, ArchiveTool::SevenZip})
        for (auto method : {ArchiveMethod::Stored, ArchiveMethod::Deflate, ArchiveMethod::Bzip2, ArchiveMethod::Lzma})
            for (bool folders : {true, false})
                if (testutil::ToolSupports(tool, method))
                    variants.push_back({tool, method, folders});
    return variants;
}

class EndToEnd : public testing::TestWithParam<Variant>
{
};

} // namespace

TEST_P(EndToEnd, OpenEditSave)
{
    const Variant v = GetParam();
    testutil::TempDir dir;
    std::vector<SampleEntry> entries;
    for (size_t i = 0; i < Files().size(); ++i)
    {
        // Folders before their first file, as the tools write them.
        const auto& f = Files()[i];
        if (v.folders)
            for (const auto& folder : Folders)
                if (f.name.rfind(folder.substr(std::min(folder.size(), Root.size())), 0) == 0 || folder.size() <= Root.size())
                    if (std::none_of(entries.begin(), entries.end(), [&](const SampleEntry& e) { return e.name == folder; }))
                        entries.push_back({folder, ""});
        entries.push_back({Root + f.name, TextFor(f.name, "", false)});
    }
    const auto input = dir / "defs.zip";
    testutil::BuildArchive(input, entries, v.tool, v.method);
    const std::vector<ListedEntry> before = testutil::ListArchive(input);
    static const int methodIds[] = {0, 8, 12, 14};
    ASSERT_TRUE(std::any_of(before.begin(), before.end(), [&](const ListedEntry& e) {
        return !e.IsFolder() && e.method == methodIds[static_cast<int>(v.method)];
    }));

    // What the open must list: the trucks with component files, each spelled as its first entry
    // has it. 7-Zip sorts the names, which puts BRAVO before bravo.
    const std::wstring expectedList =
        v.tool == ArchiveTool::SevenZip ? L"BRAVO\r\nBeta\r\nbetamax\r\n" : L"bravo\r\nBeta\r\nbetamax\r\n";

    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(input));
    EXPECT_EQ(editor.listText, expectedList);
    editor.listText = L"BRAVO\r\n betamax \r\nalpha\r\nGamma\r\ngamma\r\n";
    editor.extensionChecked = v.folders;
    editor.OnSaveAndClose();
    EXPECT_TRUE(editor.errors.empty()) << editor.errors.front().c_str();
    EXPECT_EQ(editor.closedWith, 1);

    const auto output = dir / (v.folders ? "defs.scs" : "defs.zip");
    EXPECT_EQ(std::filesystem::exists(input), !v.folders);
    const std::vector<ListedEntry> after = testutil::ListArchive(output);

    // Unchanged entries first, byte for byte; Beta's whole folder is gone, betamax stays.
    size_t at = 0;
    for (const auto& e : before)
    {
        if (e.name.rfind(Root + "Beta/", 0) == 0)
            continue;
        ASSERT_LT(at, after.size());
        const auto& out = after[at++];
        EXPECT_EQ(out.name, e.name);
        EXPECT_EQ(out.method, e.method);
        EXPECT_EQ(out.crc, e.crc);
        EXPECT_EQ(out.externalAttributes, e.externalAttributes);
        EXPECT_TRUE(out.raw == e.raw) << e.name;
    }
    // Then each new truck: its folder, then the template's files and folders, stored, with
    // the accessory values rewritten. A name made twice (BRAVO's engine folder after bravo's)
    // gives one entry.
    for (const std::string truck : {"alpha", "Gamma"})
    {
        std::set<std::string> made;
        ASSERT_LT(at, after.size());
        EXPECT_EQ(after[at].name, Root + truck + "/");
        EXPECT_TRUE(after[at++].IsFolder());
        for (const auto& e : before)
        {
            const auto inFolder = [&](const std::string& folder) { return e.name.rfind(Root + folder, 0) == 0; };
            if (!inFolder("bravo/engine/") && !inFolder("BRAVO/engine/") && !inFolder("bravo/transmission/"))
                continue;
            const std::string relative = e.name.substr(Root.size() + 6);
            if (!made.insert(relative).second)
                continue;
            ASSERT_LT(at, after.size());
            const auto& out = after[at++];
            EXPECT_EQ(out.name, Root + truck + "/" + relative);
            EXPECT_EQ(out.IsFolder(), e.IsFolder());
            if (e.IsFolder())
                continue;
            EXPECT_EQ(out.method, 0);
            EXPECT_EQ(out.raw, out.data);
            EXPECT_EQ(out.data, TextFor(e.name.substr(Root.size()), truck, true)) << out.name;
        }
    }
    EXPECT_EQ(at, after.size());
}

INSTANTIATE_TEST_SUITE_P(PeerArchives, EndToEnd, testing::ValuesIn(AllVariants()), VariantName);
