// Reading entry data back. LZMA entries over thousands of generated inputs, the kinds whose
// ends are hard for a stream without end marker (zeros, zero tails, few distinct bytes) among
// them: read back exactly, and decoded by the codec alone, which knows no size, never shorter
// than what was encoded. And for every method, the declared size bounds what is delivered,
// and data longer than declared fail the checking read.
#include "tests/common/TestUtil.h"
#include "tests/common/ZipFixtures.h"

#include "zip/LzmaMethod.h"
#include "zip/ZipArchive.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/compression_decoder_stream.h"
#include "zip/lzma_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace ziptest;

namespace {

constexpr uint32_t kFirstSeed = 20240611;
constexpr size_t kInputs = 5200;
constexpr size_t kLargest = 70000;
constexpr size_t kPerArchive = 26;

struct Input
{
    uint32_t seed = 0;
    const char* kind = "";
    std::string data;
    int32_t level = 0;
    bool multithreaded = false;
};

// Everything about an input follows from its seed, so a failure can be made again alone.
Input MakeInput(uint32_t seed)
{
    std::mt19937 rng(seed);
    Input input;
    input.seed = seed;

    // Sizes skewed small, where the end of the data is most of the stream, with some reaching
    // the largest size.
    size_t size = 0;
    switch (rng() % 8)
    {
    case 0:
        size = rng() % 16;
        break;
    case 1:
    case 2:
    case 3:
        size = rng() % 300;
        break;
    case 4:
    case 5:
        size = rng() % 4000;
        break;
    case 6:
        size = rng() % 20000;
        break;
    default:
        size = rng() % (kLargest + 1);
        break;
    }
    auto randomBytes = [&](size_t n) {
        std::string bytes(n, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        return bytes;
    };
    switch (rng() % 4)
    {
    case 0:
        input.kind = "zeros";
        input.data.assign(size, '\0');
        break;
    case 1:
        input.kind = "random";
        input.data = randomBytes(size);
        break;
    case 2:
    {
        input.kind = "random with zero tail";
        const size_t tail = std::min<size_t>(size, 1 + rng() % 64);
        input.data = randomBytes(size - tail) + std::string(tail, '\0');
        break;
    }
    default:
    {
        // Two to five distinct bytes, zero often among them; such data is all matches and
        // repeats, and may still end in zeros.
        input.kind = "small alphabet";
        const size_t letters = 2 + rng() % 4;
        std::string alphabet = randomBytes(letters);
        if (rng() % 2)
            alphabet[0] = '\0';
        input.data.resize(size);
        for (char& c : input.data)
            c = alphabet[rng() % letters];
        break;
    }
    }
    // Mostly small dictionaries (fast to set up), sometimes the default level with its other
    // parser; both with and without the multithreaded setting.
    input.level = rng() % 20 == 0 ? 5 : static_cast<int32_t>(rng() % 3);
    input.multithreaded = rng() % 2 == 0;
    return input;
}

std::string Describe(const Input& input)
{
    return "seed " + std::to_string(input.seed) + " (" + input.kind + ", " + std::to_string(input.data.size()) +
           " bytes, level " + std::to_string(input.level) + ")";
}

std::string DecodeWithoutSize(const std::string& compressed)
{
    std::istringstream in(compressed);
    lzma_decoder_properties properties;
    basic_compression_decoder_stream<char> stream(std::make_shared<lzma_decoder>(), properties, in);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// Writes one archive of the given inputs and reads every entry back three ways; returns a line
// for each input that failed.
std::vector<std::string> CheckArchive(const std::vector<Input>& inputs, EntryCompressionMode mode)
{
    std::vector<std::string> failures;
    auto archive = ZipArchive::Create(nullptr);
    std::vector<std::unique_ptr<std::istringstream>> sources;
    for (size_t i = 0; i < inputs.size(); ++i)
    {
        auto method = std::make_shared<LzmaMethod>();
        method->GetEncoderProperties().CompressionLevel = inputs[i].level;
        method->GetEncoderProperties().IsMultithreaded = inputs[i].multithreaded;
        sources.push_back(std::make_unique<std::istringstream>(inputs[i].data));
        auto entry = archive->CreateEntry("e" + std::to_string(i));
        if (!entry || !entry->SetCompressionStream(*sources.back(), method, mode))
            failures.push_back(Describe(inputs[i]) + ": could not be added");
    }
    bool written = false;
    const std::string bytes = WriteToBytes(*archive, &written);
    if (!written)
    {
        failures.push_back("seeds from " + std::to_string(inputs.front().seed) + ": the archive was not written");
        return failures;
    }

    auto reread = OpenBytes(bytes);
    if (reread->GetEntriesCount() != inputs.size())
    {
        failures.push_back("seeds from " + std::to_string(inputs.front().seed) + ": entries lost");
        return failures;
    }
    for (size_t i = 0; i < inputs.size(); ++i)
    {
        const std::string& data = inputs[i].data;
        auto entry = reread->GetEntry(i);
        std::vector<char> verified;
        const bool accepted = entry->ReadVerifiedData(verified);
        if (!accepted || !std::equal(verified.begin(), verified.end(), data.begin(), data.end()))
            failures.push_back(Describe(inputs[i]) + ": the checking read " + (accepted ? "accepted" : "refused") +
                               " " + std::to_string(verified.size()) + " bytes");
        const std::string streamed = Decompressed(*entry);
        if (streamed != data)
            failures.push_back(Describe(inputs[i]) + ": the decompression stream gave " +
                               std::to_string(streamed.size()) + " bytes");
        entry->CloseStreams();
        const std::string alone = DecodeWithoutSize(ReadAll(entry->GetRawStream()));
        if (alone.size() < data.size() || alone.compare(0, data.size(), data) != 0)
            failures.push_back(Describe(inputs[i]) + ": the codec alone gave " + std::to_string(alone.size()) +
                               " bytes, not beginning with the data");
    }
    return failures;
}

} // namespace

TEST(LzmaReadBack, EveryInputComesBackExact)
{
    const size_t archives = (kInputs + kPerArchive - 1) / kPerArchive;
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::vector<std::string> failures;
    size_t checked = 0;

    auto work = [&] {
        for (size_t a = next++; a < archives; a = next++)
        {
            std::vector<Input> inputs;
            for (size_t i = a * kPerArchive; i < std::min(kInputs, (a + 1) * kPerArchive); ++i)
                inputs.push_back(MakeInput(kFirstSeed + static_cast<uint32_t>(i)));
            // Both ways of compressing: at once into memory, and while the archive is written.
            std::vector<std::string> found = CheckArchive(inputs, a % 2 ? CompressOnWrite : CompressAtOnce);
            std::lock_guard<std::mutex> hold(lock);
            checked += inputs.size();
            failures.insert(failures.end(), found.begin(), found.end());
        }
    };
    const unsigned threads = std::max(2u, std::min(8u, std::thread::hardware_concurrency()));
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(work);
    for (std::thread& thread : pool)
        thread.join();

    EXPECT_EQ(checked, kInputs);
    for (size_t i = 0; i < std::min<size_t>(failures.size(), 20); ++i)
        ADD_FAILURE() << failures[i];
    EXPECT_TRUE(failures.empty()) << failures.size() << " failures in " << kInputs << " inputs";
}

namespace {

void Put32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}

// The archive of one entry with its declared uncompressed size and CRC-32 replaced in both
// headers, as damage or a faulty writer would leave them.
std::string WithDeclared(std::string archive, uint32_t size, uint32_t crc)
{
    const size_t central = FindNth(archive, "PK\x01\x02");
    Put32(archive, 14, crc);
    Put32(archive, 22, size);
    Put32(archive, central + 16, crc);
    Put32(archive, central + 24, size);
    return archive;
}

} // namespace

TEST(ReadBack, DeclaredSizeBoundsTheData)
{
    // The data's last byte is not 0: an LZMA stream without end marker cannot tell data from
    // the same data with trailing zeros, which is no damage to detect.
    for (size_t size : {size_t{5000}, size_t{140000}})
    {
        std::string data = testutil::RandomData(size - 1, static_cast<uint32_t>(size)) + "x";
        for (uint16_t method : {0, 8, 12, 14})
        {
            SCOPED_TRACE("method " + std::to_string(method) + ", " + std::to_string(size) + " bytes");
            auto archive = ZipArchive::Create(nullptr);
            AddEntry(*archive, "f", data, method);
            const std::string bytes = WriteToBytes(*archive);

            // Shorter than the data (with the CRC-32 of what is then delivered), or longer.
            for (size_t declared : {size_t{0}, size / 2, size - 1, size, size + 1})
            {
                SCOPED_TRACE("declared " + std::to_string(declared));
                const std::string prefix = data.substr(0, declared);
                auto reread = OpenBytes(WithDeclared(bytes, static_cast<uint32_t>(declared), Crc32(prefix)));
                std::vector<char> verified;
                EXPECT_EQ(reread->GetEntry(0)->ReadVerifiedData(verified), declared == size);
                EXPECT_LE(verified.size(), declared);
                // Declared longer, an LZMA stream may rightly decode to trailing zeros.
                const std::string delivered = Decompressed(*reread->GetEntry(0));
                EXPECT_LE(delivered.size(), declared);
                EXPECT_EQ(delivered.substr(0, size), prefix);
            }
        }
    }
}
