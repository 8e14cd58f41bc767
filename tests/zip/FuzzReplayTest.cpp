// Replays the fuzz targets' inputs in the normal suite: the seed corpus of every target and
// every input that once made a target fail. Each folder under tests/fuzz/corpus/ and
// tests/fuzz/regressions/ is named after its target; a failed check is reported on stderr by
// the target itself.
#include "tests/fuzz/fuzz_targets.h"

#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const std::filesystem::path FuzzFolder = std::filesystem::path(TEST_SOURCE_DIR) / "fuzz";

// Runs every file of each target folder under `top` through its target; returns the count.
size_t ReplayFolders(const std::filesystem::path& top)
{
    size_t replayed = 0;
    for (const auto& folder : std::filesystem::directory_iterator(top))
    {
        if (!folder.is_directory())
        {
            // Only notes may lie beside the target folders: an input there would never run.
            EXPECT_EQ(folder.path().extension(), ".md") << folder.path() << " belongs in a target's folder";
            continue;
        }
        const std::string name = folder.path().filename().string();
        const fuzzing::FuzzTarget* target = fuzzing::FindFuzzTarget(name);
        if (!target)
        {
            ADD_FAILURE() << folder.path() << " names no fuzz target";
            continue;
        }
        for (const auto& item : std::filesystem::directory_iterator(folder.path()))
        {
            if (!item.is_regular_file())
                continue;
            const std::string input = testutil::ReadFile(item.path());
            EXPECT_TRUE(target->run(reinterpret_cast<const uint8_t*>(input.data()), input.size()))
                << name << " fails on " << item.path();
            ++replayed;
        }
    }
    return replayed;
}

} // namespace

TEST(FuzzReplay, RegressionInputs)
{
    EXPECT_GT(ReplayFolders(FuzzFolder / "regressions"), 0u);
}

// The seeds are valid round trips by construction; they also keep every target's checks in
// the suite that the sanitizer build runs.
TEST(FuzzReplay, SeedCorpusOfEveryTarget)
{
    for (const auto& target : fuzzing::FuzzTargets())
    {
        const auto folder = FuzzFolder / "corpus" / target.name;
        EXPECT_TRUE(std::filesystem::is_directory(folder) && !std::filesystem::is_empty(folder))
            << target.name << " has no seeds in " << folder;
    }
    ReplayFolders(FuzzFolder / "corpus");
}
