// Replays the inputs that once made the archive reader fuzz target fail.
#include "tests/fuzz/zip_reader_fuzz.h"

#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(FuzzReplay, RegressionInputs)
{
    const std::filesystem::path folder = std::filesystem::path(TEST_SOURCE_DIR) / "fuzz" / "regressions";
    size_t replayed = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder))
    {
        if (!item.is_regular_file())
            continue;
        const std::string input = testutil::ReadFile(item.path());
        EXPECT_TRUE(fuzzing::ZipReaderOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()))
            << item.path();
        ++replayed;
    }
    EXPECT_GT(replayed, 0u);
}
