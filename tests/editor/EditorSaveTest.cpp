// Saving: where the result goes, what is refused before any change, and failures that must
// leave the input file, the open archive and the dialog as they were.
#include "RecordingEditor.h"
#include "SampleArchives.h"

#include <csignal>
#include <sys/resource.h>

using testutil::ListArchive;
using testutil::SampleEntry;
using testutil::TempDir;

namespace {

const std::vector<SampleEntry> Entries = {
    {"def/vehicle/truck/bravo/engine/e.sii", "\taccessory_engine_data: e.bravo.engine\r\n"},
    {"def/vehicle/truck/alpha/transmission/t.sii", "accessory_transmission_data: t.alpha.transmission\n"},
};

std::vector<std::string> Names(const std::filesystem::path& archive)
{
    std::vector<std::string> names;
    for (const auto& e : ListArchive(archive))
        names.push_back(e.name);
    return names;
}

std::vector<std::string> Files(const TempDir& dir)
{
    std::vector<std::string> files;
    for (const auto& f : std::filesystem::directory_iterator(dir.path()))
        files.push_back(f.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

const std::vector<std::string> InputNames = {Entries[0].name, Entries[1].name};

} // namespace

TEST(SaveAndClose, TheResultReplacesTheInputUnderTheNameTheCheckboxGives)
{
    struct Case
    {
        std::string input;
        bool tick;
        std::string result;
    };
    const std::vector<Case> cases = {
        {"pack.zip", true, "pack.scs"},  {"pack.zip", false, "pack.zip"},
        {"pack.SCS", true, "pack.SCS"},  {"pack", true, "pack.scs"},
        {"pack.PellucorTmp", false, "pack.PellucorTmp"}, {"pack.pellucortmp", true, "pack.scs"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.input + (c.tick ? " ticked" : ""));
        TempDir dir;
        MakeArchive(dir, c.input, Entries);
        std::filesystem::permissions(dir / c.input, std::filesystem::perms(0640));
        testutil::WriteFile(dir / "pack.scs", "an older result");
        if (c.input == "pack.zip")
            testutil::WriteFile(dir / "pack.PellucorTmp", "left over from before");

        RecordingEditor editor;
        ASSERT_TRUE(editor.Open(dir / c.input));
        if (editor.extensionEnabled)
            editor.extensionChecked = c.tick;
        editor.OnSaveAndClose();

        EXPECT_TRUE(editor.errors.empty());
        EXPECT_EQ(editor.closedWith, 1);
        EXPECT_FALSE(editor.HasArchive());
        EXPECT_TRUE(editor.GetArchivePath().empty());
        EXPECT_EQ(Names(dir / c.result), InputNames);
        EXPECT_EQ(std::filesystem::status(dir / c.result).permissions(), std::filesystem::perms(0640));
        std::vector<std::string> expected = {c.result};
        if (c.result != "pack.scs")
            expected.push_back("pack.scs"); // an existing .scs file is only replaced when it is the target
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Files(dir), expected);
    }
}

TEST(SaveAndClose, RefusesEmptyListsAndUnsafeNamesBeforeAnyChange)
{
    TempDir dir;
    const auto path = MakeArchive(dir, "pack.zip", Entries);
    const std::string bytes = testutil::ReadFile(path);
    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(path));
    const size_t count = editor.m_archive->GetEntriesCount();

    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"", L"Error: No truck selected in Step 2."},
        {L" \t\r\n\r\n two words\r\nx\ry\r\n", L"Error: No truck selected in Step 2."},
        {L"bravo\r\n../../evil\r\n", L"Error: Invalid truck name in Step 2: ../../evil"},
        {L"a/b\r\n", L"Error: Invalid truck name in Step 2: a/b"},
        {L"a\\b\r\n", L"Error: Invalid truck name in Step 2: a\\b"},
        {L"new\r\n.\r\n", L"Error: Invalid truck name in Step 2: ."},
        {L"..", L"Error: Invalid truck name in Step 2: .."},
    };
    for (const auto& [list, message] : cases)
    {
        editor.errors.clear();
        editor.listText = list;
        editor.OnSaveAndClose();
        EXPECT_EQ(editor.errors, std::vector<std::wstring>{message});
        EXPECT_EQ(editor.closedWith, 0);
        EXPECT_EQ(editor.m_archive->GetEntriesCount(), count);
    }
    EXPECT_EQ(testutil::ReadFile(path), bytes);
    EXPECT_EQ(Files(dir), std::vector<std::string>{"pack.zip"});
}

TEST(SaveAndClose, ATempFileThatCannotBeCreatedKeepsTheChangesForTheNextPress)
{
    TempDir dir;
    const auto path = MakeArchive(dir, "pack.zip", Entries);
    const std::string bytes = testutil::ReadFile(path);
    std::filesystem::create_directory(dir / "pack.PellucorTmp");

    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(path));
    editor.extensionChecked = false;
    editor.listText = L"bravo\r\ncharlie\r\n";
    editor.OnSaveAndClose();
    EXPECT_EQ(editor.errors, std::vector<std::wstring>{L"Error: Failed creating temp file:\r\n" +
                                                       text::WideFromPath(dir / "pack.PellucorTmp") +
                                                       L"\r\n Check folder permissions, or if disk is full or unreachable."});
    EXPECT_EQ(editor.closedWith, 0);
    EXPECT_TRUE(editor.HasArchive());
    EXPECT_EQ(testutil::ReadFile(path), bytes);

    std::filesystem::remove(dir / "pack.PellucorTmp");
    editor.errors.clear();
    editor.OnSaveAndClose();
    EXPECT_TRUE(editor.errors.empty());
    EXPECT_EQ(editor.closedWith, 1);
    EXPECT_EQ(Names(path), (std::vector<std::string>{Entries[0].name, "def/vehicle/truck/charlie/",
                                                     "def/vehicle/truck/charlie/engine/e.sii"}));
}

TEST(SaveAndClose, AFailedWriteLeavesInputArchiveAndDialogAsTheyWere)
{
    TempDir dir;
    const auto path = MakeArchive(dir, "pack.zip", Entries);
    const std::string bytes = testutil::ReadFile(path);
    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(path));
    editor.listText += L"charlie\r\n";

    // A file size limit makes every write past it fail, as a full disk would.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    editor.OnSaveAndClose();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(editor.errors.size(), 1u);
    EXPECT_EQ(editor.errors[0].rfind(L"Error: Failed writing temp file:", 0), 0u) << editor.errors[0].c_str();
    EXPECT_EQ(editor.closedWith, 0);
    EXPECT_TRUE(editor.HasArchive());
    EXPECT_EQ(editor.GetArchivePath(), path);
    EXPECT_EQ(testutil::ReadFile(path), bytes);
    EXPECT_EQ(Files(dir), std::vector<std::string>{"pack.zip"});

    editor.errors.clear();
    editor.OnSaveAndClose();
    EXPECT_TRUE(editor.errors.empty());
    EXPECT_EQ(editor.closedWith, 1);
    EXPECT_EQ(Names(dir / "pack.scs").size(), 4u);
}

TEST(AddTruck, ADefinitionFileWithoutItsAccessoryLineIsReportedAndLeftOut)
{
    TempDir dir;
    const auto path = MakeArchive(dir, "pack.zip",
                                  {
                                      {"def/vehicle/truck/bravo/Engine/e.sii", "accessory_engine_data: e.bravo.engine\n"},
                                      {"def/vehicle/truck/bravo/Engine/f.sii", "accessory_Engine_data: f.bravo.Engine\n"},
                                      {"def/vehicle/truck/bravo/Engine/notes.txt", ""},
                                      {"def/vehicle/truck/bravo/transmission/t.sii", "# accessory_transmission_data: t\n"},
                                      {"def/vehicle/truck/delta/", ""},
                                      {"def/vehicle/truck/delta/data.sii", "delta"},
                                  });
    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(path));
    editor.extensionChecked = false;
    // delta has no component files: it is new to the save, and keeps what it has.
    editor.listText = L"delta\r\n";
    editor.OnSaveAndClose();
    EXPECT_EQ(editor.errors, (std::vector<std::wstring>{
                                 L"Error: Could not find accessory_Engine_data in e.sii.\r\nSkipping file...",
                                 L"Error: Could not find accessory_transmission_data in t.sii.\r\nSkipping file...",
                             }));
    EXPECT_EQ(editor.closedWith, 1);

    std::vector<std::pair<std::string, std::string>> result;
    for (const auto& e : ListArchive(path))
        result.emplace_back(e.name, e.data);
    EXPECT_EQ(result, (std::vector<std::pair<std::string, std::string>>{
                          {"def/vehicle/truck/delta/", ""},
                          {"def/vehicle/truck/delta/data.sii", "delta"},
                          {"def/vehicle/truck/delta/Engine/f.sii", "accessory_Engine_data: f.delta.Engine\n"},
                          {"def/vehicle/truck/delta/Engine/notes.txt", ""},
                      }));
}

TEST(SaveAndClose, NamesThatAreNotUtf8ComeBackUnchanged)
{
    TempDir dir;
    const std::string odd = "caf\xE9";
    const auto path = MakeArchive(dir, "pack.zip", Entries);
    // Python writes only UTF-8 names: put the odd one in with Info-ZIP, which takes bytes.
    std::filesystem::create_directories(dir / "tree/def/vehicle/truck" / odd / "engine");
    testutil::WriteFile(dir / "tree/def/vehicle/truck" / odd / "engine/o.sii", "accessory_engine_data: o\n");
    ASSERT_EQ(testutil::RunCommand("cd " + testutil::ShellQuote((dir / "tree").string()) + " && zip -q -D " +
                                   testutil::ShellQuote(path.string()) + " def/vehicle/truck/" + odd + "/engine/o.sii")
                  .exitCode,
              0);

    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(path));
    EXPECT_EQ(editor.listText, L"bravo\r\nalpha\r\ncaf\xF7E9\r\n");
    editor.listText += L"\u00FF\r\n";
    editor.OnSaveAndClose();
    EXPECT_TRUE(editor.errors.empty());
    EXPECT_EQ(Names(dir / "pack.scs"), (std::vector<std::string>{
                                           Entries[0].name,
                                           Entries[1].name,
                                           "def/vehicle/truck/" + odd + "/engine/o.sii",
                                           "def/vehicle/truck/\xC3\xBF/",
                                           "def/vehicle/truck/\xC3\xBF/engine/e.sii",
                                       }));
}
