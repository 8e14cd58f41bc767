// Saving: where the result goes, what is refused before any change, and failures that must
// leave the input file, the open archive and the dialog as they were.
#include "RecordingEditor.h"
#include "SampleArchives.h"

#include "editor/FileInput.h"

#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

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
// The input's names after a save that added the truck charlie (bravo is the template).
const std::vector<std::string> WithCharlie = {Entries[0].name, Entries[1].name, "def/vehicle/truck/charlie/",
                                              "def/vehicle/truck/charlie/engine/e.sii"};

// A copy of the sample archive as pack.zip in `dir`; Python writes it once per run.
std::filesystem::path SamplePack(const TempDir& dir)
{
    static TempDir source;
    static const auto sample = MakeArchive(source, "pack.zip", Entries);
    std::filesystem::copy_file(sample, dir / "pack.zip");
    return dir / "pack.zip";
}

int Fail(int error)
{
    errno = error;
    return -1;
}

std::wstring Wide(const std::filesystem::path& path)
{
    return text::WideFromPath(path);
}

std::wstring ChangedMessage(const std::filesystem::path& path)
{
    return L"Error: Another program changed the file since it was opened:\r\n" + Wide(path) +
           L"\r\n Nothing was saved. Open the file again to edit its current contents.";
}

// Sets the file's modification time back to `before`'s, as touch -r or cp -p do after writing.
// The status-change time moves on in clock ticks: one passes first, as it does between opening
// a file and another program's write, so that the write shows there.
void SetTimeBack(const std::filesystem::path& path, const struct stat& before)
{
    const timespec times[2] = {before.st_atim, before.st_mtim};
    struct stat now{};
    do
    {
        usleep(1000);
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        ASSERT_EQ(::stat(path.c_str(), &now), 0);
    } while (now.st_ctim.tv_sec == before.st_ctim.tv_sec && now.st_ctim.tv_nsec == before.st_ctim.tv_nsec);
}

// The state every refused save must leave: the same archive open at the same path, the dialog
// open, and in the folder only what was there.
void ExpectNothingSaved(const RecordingEditor& editor, const std::filesystem::path& input,
                        const std::vector<std::string>& files, const TempDir& dir)
{
    EXPECT_EQ(editor.closedWith, 0);
    EXPECT_TRUE(editor.HasArchive());
    EXPECT_EQ(editor.GetArchivePath(), input);
    EXPECT_EQ(Files(dir), files);
}

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

    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(path));
    editor.extensionChecked = false;
    editor.listText = L"bravo\r\ncharlie\r\n";
    const auto real = editor.m_files;
    editor.m_files.open = [](const char*, int, mode_t) { return Fail(EACCES); };
    editor.OnSaveAndClose();
    EXPECT_EQ(editor.errors, std::vector<std::wstring>{L"Error: Failed creating temp file:\r\n" +
                                                       text::WideFromPath(dir / "pack.PellucorTmp") +
                                                       L"\r\n Check folder permissions, or if disk is full or unreachable."});
    EXPECT_EQ(editor.closedWith, 0);
    EXPECT_TRUE(editor.HasArchive());
    EXPECT_EQ(testutil::ReadFile(path), bytes);

    editor.m_files = real;
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

    EXPECT_EQ(editor.errors, std::vector<std::wstring>{L"Error: Failed writing temp file:\r\n" +
                                                       Wide(dir / "pack.PellucorTmp") +
                                                       L"\r\nFile too large\r\n The file was not changed."});
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

// Trucks whose names the one-name-per-line list cannot hold (white space or a line break inside
// or at an end) must survive any save; every other truck, "." and ".." included, is kept when
// listed and removed when not. Over generated archives with names of this library's own making.
TEST(SaveAndClose, TrucksTheListCannotHoldAreNeverRemoved)
{
    static const char* pieces[] = {"a", "B", "7", " ", "\t", "\r", "\n", "\v", "#", "\xC3\xA9", "\xFF", "-"};
    std::mt19937 rng(29);
    int unlistableSeen = 0;
    for (int round = 0; round < 40; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        // Trucks with distinct names (ASCII case ignored); "keep" is always there and listable.
        std::vector<std::string> trucks = {"keep"};
        if (round % 4 == 0)
            trucks.insert(trucks.end(), {".", ".."});
        while (trucks.size() < 7)
        {
            std::string name;
            for (size_t n = 1 + rng() % 3; n > 0; --n)
                name += pieces[rng() % std::size(pieces)];
            const bool taken = std::any_of(trucks.begin(), trucks.end(),
                                           [&](const std::string& t) { return text::EqualsIgnoreCase(t, name); });
            if (!taken)
                trucks.push_back(name);
        }
        std::vector<SampleEntry> entries;
        for (const auto& t : trucks)
        {
            entries.push_back({"def/vehicle/truck/" + t + "/engine/e.sii", "accessory_engine_data: e." + t + ".engine\n"});
            entries.push_back({"def/vehicle/truck/" + t + "/model.pmg", "model of " + t});
        }
        // The list can hold a name exactly when no blank, TAB, CR or LF is in it.
        auto listable = [](const std::string& t) { return t.find_first_of(" \t\r\n") == std::string::npos; };
        unlistableSeen += static_cast<int>(std::count_if(trucks.begin(), trucks.end(), [&](auto& t) { return !listable(t); }));

        TempDir dir;
        const auto path = dir / "pack.zip";
        WriteOwnArchive(path, entries);
        std::vector<std::string> inputNames;
        for (const auto& e : entries)
            inputNames.push_back(e.name);

        // The list as shown, one line per truck, saved unchanged: nothing goes, nothing comes.
        {
            RecordingEditor editor;
            ASSERT_TRUE(editor.Open(path));
            EXPECT_EQ(std::count(editor.listText.begin(), editor.listText.end(), L'\n'), static_cast<long>(trucks.size()));
            EXPECT_EQ(std::count(editor.listText.begin(), editor.listText.end(), L'\r'), static_cast<long>(trucks.size()));
            editor.extensionChecked = false;
            editor.OnSaveAndClose();
            ASSERT_TRUE(editor.errors.empty()) << text::ToNarrow(editor.errors.front());
            EXPECT_EQ(OwnEntryNames(path), inputNames);
        }
        // Only "keep" listed: every truck the list could hold goes, the others stay.
        {
            RecordingEditor editor;
            ASSERT_TRUE(editor.Open(path));
            editor.extensionChecked = false;
            editor.listText = L"keep\r\n";
            editor.OnSaveAndClose();
            ASSERT_TRUE(editor.errors.empty()) << text::ToNarrow(editor.errors.front());
            std::vector<std::string> expected;
            for (size_t i = 0; i < entries.size(); ++i)
            {
                const std::string& truck = trucks[i / 2];
                if (truck == "keep" || !listable(truck))
                    expected.push_back(entries[i].name);
            }
            EXPECT_EQ(OwnEntryNames(path), expected);
        }
    }
    EXPECT_GT(unlistableSeen, 40); // the generator must make such names
}

TEST(SaveAndClose, TheTempFileIsAlwaysANewPrivateFileAndNeverWhatLiesAtItsName)
{
    const std::vector<std::string> obstacles = {"leftover file", "folder", "FIFO", "socket", "link to a file",
                                                "dangling link", "device", "the input under another name"};
    bool tick = false;
    for (const auto& obstacle : obstacles)
    {
        SCOPED_TRACE(obstacle);
        tick = !tick;
        TempDir dir;
        const auto path = SamplePack(dir);
        const std::string bytes = testutil::ReadFile(path);
        const auto tempName = dir / "pack.PellucorTmp";
        const std::string result = tick ? "pack.scs" : "pack.zip";
        std::vector<std::string> expectedFiles = {result};
        int socketFd = -1;
        std::filesystem::file_type type = std::filesystem::file_type::not_found;
        if (obstacle == "leftover file")
            testutil::WriteFile(tempName, "left over from an earlier save");
        else if (obstacle == "folder")
            std::filesystem::create_directory(tempName);
        else if (obstacle == "FIFO")
            ASSERT_EQ(mkfifo(tempName.c_str(), 0600), 0);
        else if (obstacle == "socket")
        {
            socketFd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            ASSERT_LT(tempName.native().size(), sizeof(address.sun_path));
            std::strcpy(address.sun_path, tempName.c_str());
            ASSERT_EQ(bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        }
        else if (obstacle == "link to a file" || obstacle == "dangling link")
        {
            if (obstacle == "link to a file")
            {
                testutil::WriteFile(dir / "victim", "victim");
                expectedFiles.push_back("victim");
            }
            std::filesystem::create_symlink(dir / "victim", tempName);
        }
        else if (obstacle == "device")
        {
            if (mknod(tempName.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            {
                std::cout << "[ NOTE     ] no device node without the right to make one\n";
                continue;
            }
        }
        else
            std::filesystem::create_hard_link(path, tempName);
        if (obstacle != "leftover file")
        {
            expectedFiles.push_back("pack.PellucorTmp");
            type = std::filesystem::symlink_status(tempName).type();
        }
        std::sort(expectedFiles.begin(), expectedFiles.end());

        RecordingEditor editor;
        ASSERT_TRUE(editor.Open(path));
        editor.extensionChecked = tick;
        editor.listText += L"charlie\r\n";
        const auto real = editor.m_files;
        std::set<mode_t> modesWhileWriting;
        editor.m_files.write = [&](int fd, const void* data, size_t count) {
            struct stat status{};
            ::fstat(fd, &status);
            modesWhileWriting.insert(status.st_mode);
            return real.write(fd, data, count);
        };
        editor.OnSaveAndClose();
        if (socketFd >= 0)
            close(socketFd);

        EXPECT_TRUE(editor.errors.empty()) << text::ToNarrow(editor.errors.front());
        EXPECT_EQ(editor.closedWith, 1);
        EXPECT_EQ(Names(dir / result), WithCharlie);
        EXPECT_EQ(modesWhileWriting, std::set<mode_t>{S_IFREG | 0600});
        EXPECT_EQ(Files(dir), expectedFiles);
        if (obstacle != "leftover file")
        {
            EXPECT_EQ(std::filesystem::symlink_status(tempName).type(), type);
        }
        if (obstacle == "link to a file")
        {
            EXPECT_EQ(testutil::ReadFile(dir / "victim"), "victim");
        }
        if (obstacle == "the input under another name")
        {
            EXPECT_EQ(testutil::ReadFile(tempName), bytes);
        }
    }
}

TEST(SaveAndClose, TheResultTakesTheInputsModeAndWherePossibleItsOwner)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a file to another owner needs root";
    for (bool tick : {true, false})
    {
        for (bool refused : {false, true})
        {
            SCOPED_TRACE(std::string(tick ? "ticked" : "not ticked") + (refused ? ", owner refused" : ""));
            TempDir dir;
            const auto path = SamplePack(dir);
            ASSERT_EQ(chmod(path.c_str(), 0604), 0);
            ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
            RecordingEditor editor;
            ASSERT_TRUE(editor.Open(path));
            editor.extensionChecked = tick;
            if (refused)
                editor.m_files.fchown = [](int, uid_t, gid_t) { return Fail(EPERM); };
            editor.OnSaveAndClose();
            EXPECT_TRUE(editor.errors.empty());
            struct stat status{};
            ASSERT_EQ(stat((dir / (tick ? "pack.scs" : "pack.zip")).c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 07777, 0604u);
            EXPECT_EQ(status.st_uid, refused ? geteuid() : 1234u);
            EXPECT_EQ(status.st_gid, refused ? getegid() : 5678u);
        }
    }
}

// Each final step of the save made to fail on purpose, and an input that ends early (damaged) or
// memory that runs out: the exact message, the input as it was, no file left behind, the archive
// still open; a second press then saves.
TEST(SaveAndClose, AFailureAtAnyFinalStepLeavesInputArchiveAndDialogAsTheyWere)
{
    // More than the input's buffer holds, so that the save reads the file again.
    std::vector<SampleEntry> entries = Entries;
    entries.push_back({"def/big.bin", testutil::RandomData(3 << 19, 5)});
    TempDir source;
    const auto original = MakeArchive(source, "pack.zip", entries);
    const std::vector<std::string> steps = {"read", "damaged", "memory", "write", "mode", "sync", "close", "rename"};
    for (const auto& step : steps)
    {
        for (bool tick : {true, false})
        {
            SCOPED_TRACE(step + (tick ? " ticked" : ""));
            TempDir dir;
            const auto path = dir / "pack.zip";
            std::filesystem::copy_file(original, path);
            const std::string bytes = testutil::ReadFile(path);
            const auto temp = dir / "pack.PellucorTmp";
            const auto target = tick ? dir / "pack.scs" : path;

            RecordingEditor editor;
            bool armed = false;
            int tempFd = -1;
            const auto real = editor.m_files;
            editor.m_files.open = [&](const char* name, int flags, mode_t mode) {
                if (armed && step == "memory")
                    throw std::bad_alloc();
                const int fd = real.open(name, flags, mode);
                if (name == temp)
                    tempFd = fd;
                return fd;
            };
            editor.m_files.pread = [&](int fd, void* data, size_t count, off_t offset) -> ssize_t {
                if (armed && step == "damaged")
                    return 0;
                return armed && step == "read" ? Fail(EIO) : real.pread(fd, data, count, offset);
            };
            editor.m_files.write = [&](int fd, const void* data, size_t count) -> ssize_t {
                return armed && step == "write" ? Fail(ENOSPC) : real.write(fd, data, count);
            };
            editor.m_files.fchmod = [&](int fd, mode_t mode) {
                return armed && step == "mode" ? Fail(EIO) : real.fchmod(fd, mode);
            };
            editor.m_files.fsync = [&](int fd) { return armed && step == "sync" ? Fail(EIO) : real.fsync(fd); };
            editor.m_files.close = [&](int fd) {
                const int result = real.close(fd);
                return armed && step == "close" && fd == tempFd ? Fail(EIO) : result;
            };
            editor.m_files.rename = [&](const char* from, const char* to) {
                return armed && step == "rename" ? Fail(EACCES) : real.rename(from, to);
            };
            ASSERT_TRUE(editor.Open(path));
            editor.extensionChecked = tick;
            editor.listText += L"charlie\r\n";
            armed = true;
            editor.OnSaveAndClose();

            std::wstring message;
            if (step == "read")
                message = L"Error: The archive could not be saved:\r\nThe opened file could not be read (Input/output error).";
            else if (step == "damaged")
                message = L"Error: The archive could not be saved:\r\nThe opened file's data could not be read completely; "
                          L"the file may be damaged.";
            else if (step == "memory")
                message = L"Error: Saving failed: There is not enough memory.";
            else if (step == "write")
                message = L"Error: Failed writing temp file:\r\n" + Wide(temp) + L"\r\nNo space left on device";
            else if (step == "mode")
                message = L"Error: Failed writing temp file:\r\n" + Wide(temp) + L"\r\nInput/output error";
            else if (step == "sync" || step == "close")
                message = L"Error: Failed writing temp file to disk:\r\n" + Wide(temp) + L"\r\nInput/output error";
            else
                message = L"Error: Failed moving temp file:\r\n" + Wide(temp) + L"\r\n to:\r\n" + Wide(target) +
                          L"\r\nPermission denied";
            EXPECT_EQ(editor.errors, std::vector<std::wstring>{message + L"\r\n The file was not changed."});
            ExpectNothingSaved(editor, path, {"pack.zip"}, dir);
            EXPECT_EQ(testutil::ReadFile(path), bytes);

            armed = false;
            editor.errors.clear();
            editor.OnSaveAndClose();
            EXPECT_TRUE(editor.errors.empty());
            EXPECT_EQ(editor.closedWith, 1);
            EXPECT_EQ(OwnEntryNames(target).size(), 5u);
            EXPECT_EQ(std::filesystem::exists(path), !tick);
        }
    }
}

// Watched at each system call of a save that goes through: the result is written, given its
// mode, synced and closed before the rename, and the input is untouched until the rename.
TEST(SaveAndClose, TheInputIsTouchedOnlyAfterTheResultIsCompleteOnDisk)
{
    for (bool tick : {true, false})
    {
        SCOPED_TRACE(tick ? "ticked" : "not ticked");
        TempDir dir;
        const auto path = SamplePack(dir);
        ASSERT_EQ(chmod(path.c_str(), 0640), 0);
        const std::string bytes = testutil::ReadFile(path);
        RecordingEditor editor;
        ASSERT_TRUE(editor.Open(path));
        editor.extensionChecked = tick;
        editor.listText += L"charlie\r\n";

        const auto real = editor.m_files;
        int tempFd = -1;
        bool synced = false, closed = false, renamed = false;
        std::vector<std::string> faults;
        auto inputIntact = [&] {
            std::error_code ec;
            return std::filesystem::exists(path, ec) && testutil::ReadFile(path) == bytes;
        };
        editor.m_files.open = [&](const char* name, int flags, mode_t mode) {
            const int fd = real.open(name, flags, mode);
            tempFd = fd;
            return fd;
        };
        editor.m_files.write = [&](int fd, const void* data, size_t count) {
            if (synced || closed)
                faults.push_back("written after the sync or close");
            return real.write(fd, data, count);
        };
        editor.m_files.fsync = [&](int fd) {
            synced = synced || fd == tempFd;
            return real.fsync(fd);
        };
        editor.m_files.close = [&](int fd) {
            if (fd == tempFd && !synced)
                faults.push_back("closed before the sync");
            closed = closed || fd == tempFd;
            return real.close(fd);
        };
        editor.m_files.rename = [&](const char* from, const char* to) {
            struct stat status{};
            if (!synced || !closed)
                faults.push_back("renamed before the sync and close");
            if (!inputIntact())
                faults.push_back("input touched before the rename");
            if (::stat(from, &status) != 0 || (status.st_mode & 07777) != 0640)
                faults.push_back("renamed without the input's mode");
            renamed = true;
            return real.rename(from, to);
        };
        editor.m_files.unlink = [&](const char* name) {
            if (name == path && !renamed)
                faults.push_back("input removed before the rename");
            return real.unlink(name);
        };
        editor.OnSaveAndClose();
        EXPECT_TRUE(editor.errors.empty());
        EXPECT_EQ(faults, std::vector<std::string>{});
        EXPECT_TRUE(renamed);
        EXPECT_EQ(Files(dir), std::vector<std::string>{tick ? "pack.scs" : "pack.zip"});
        EXPECT_EQ(Names(dir / (tick ? "pack.scs" : "pack.zip")), WithCharlie);
    }
}

// Another program replaces the file, writes into it (also keeping its size and setting its time
// back) or deletes it, before the press, while the archive is being written or while it is
// synced: nothing is put in place and nothing removed.
TEST(SaveAndClose, AFileChangedByAnotherProgramIsNeitherOverwrittenNorRemoved)
{
    for (const std::string change : {"replaced", "overwritten in place", "overwritten in place, old time kept", "deleted"})
    {
        for (const std::string moment : {"before the press", "while writing", "while syncing"})
        {
            for (bool tick : {true, false})
            {
                SCOPED_TRACE(change + ", " + moment + (tick ? ", ticked" : ""));
                TempDir dir;
                const auto path = SamplePack(dir);
                // An older time, so that a write within the same clock tick still shows.
                std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(1));
                std::string after = testutil::ReadFile(path);
                for (size_t i = 100; i < 110; ++i)
                    after[i] = static_cast<char>(~after[i]);

                struct stat opened{};
                auto changeIt = [&] {
                    if (change == "replaced")
                    {
                        testutil::WriteFile(dir / "new", after);
                        std::filesystem::rename(dir / "new", path);
                    }
                    else if (change != "deleted")
                    {
                        {
                            std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
                            file.write(after.data(), static_cast<std::streamsize>(after.size()));
                        }
                        if (change == "overwritten in place, old time kept")
                            SetTimeBack(path, opened);
                    }
                    else
                        std::filesystem::remove(path);
                };

                RecordingEditor editor;
                ASSERT_TRUE(editor.Open(path));
                ASSERT_EQ(::stat(path.c_str(), &opened), 0);
                editor.extensionChecked = tick;
                editor.listText += L"charlie\r\n";
                const auto real = editor.m_files;
                bool changed = false;
                auto changeOnce = [&] {
                    if (!changed)
                        changeIt();
                    changed = true;
                };
                int writes = 0;
                editor.m_files.write = [&](int fd, const void* data, size_t count) {
                    ++writes;
                    if (moment == "while writing")
                        changeOnce();
                    return real.write(fd, data, count);
                };
                editor.m_files.fsync = [&](int fd) {
                    if (moment == "while syncing")
                        changeOnce();
                    return real.fsync(fd);
                };
                if (moment == "before the press")
                    changeOnce();
                editor.OnSaveAndClose();

                EXPECT_EQ(editor.errors, std::vector<std::wstring>{ChangedMessage(path)});
                if (moment == "before the press")
                {
                    EXPECT_EQ(writes, 0); // checked before anything is written
                }
                const bool deleted = change == "deleted";
                ExpectNothingSaved(editor, path, deleted ? std::vector<std::string>{} : std::vector<std::string>{"pack.zip"},
                                   dir);
                if (!deleted)
                {
                    EXPECT_EQ(testutil::ReadFile(path), after);
                }
            }
        }
    }
}

TEST(SaveAndClose, MoreEntriesThanTheFormatCountsAreRefusedWithTheirReason)
{
    // 65,535 entries in the input; the new truck would add two more.
    TempDir dir;
    const auto path = dir / "pack.zip";
    const auto result = testutil::RunPython(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('def/vehicle/truck/bravo/engine/e.sii', 'accessory_engine_data: e.bravo.engine\n')
    for i in range(65534):
        z.writestr('filler/%05d' % i, '')
)",
                                            {path.string()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const std::string bytes = testutil::ReadFile(path);

    RecordingEditor editor;
    ASSERT_TRUE(editor.Open(path));
    editor.listText += L"charlie\r\n";
    editor.OnSaveAndClose();
    EXPECT_EQ(editor.errors, std::vector<std::wstring>{L"Error: The archive could not be saved:\r\nThe archive would have "
                                                       L"too many entries for the ZIP format (at most 65,535).\r\n The "
                                                       L"file was not changed."});
    ExpectNothingSaved(editor, path, {"pack.zip"}, dir);
    EXPECT_EQ(testutil::ReadFile(path), bytes);
}
