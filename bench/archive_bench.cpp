// Measures the archive library on a large archive: about 500 MiB in 20,000 entries, half
// stored and half deflated. In one run it times opening the archive (end record and
// directory), writing it unchanged to a new file, and `cp` of the same file, and prints the
// ratios that matter: writing against cp (target at most 1.5) and opening against writing
// (target under 0.1). All files stay in the page cache, so the figures compare the work done,
// not the disk.
//
// Usage: archive_bench [folder]   (default: the system's temporary folder)
#include "zip/DeflateMethod.h"
#include "zip/StoreMethod.h"
#include "zip/ZipArchive.h"
#include "zip/mem_stream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int EntryCount = 20000;
constexpr size_t StoredSize = 40 * 1024;  // random bytes, stored
constexpr size_t DeflatedSize = 12 * 1024; // random bytes, deflated (they barely shrink)
constexpr int Repetitions = 5;

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::duration<double>>(end - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void MakeArchive(const std::filesystem::path& path)
{
    // One pool of random bytes; every entry takes its own slice of it.
    std::vector<char> pool(64u << 20);
    std::mt19937 rng(7);
    for (auto& c : pool)
        c = static_cast<char>(rng() & 0xFF);

    auto archive = ZipArchive::Create(nullptr);
    std::vector<std::unique_ptr<basic_imemstream<char>>> sources;
    sources.reserve(EntryCount);
    for (int i = 0; i < EntryCount; ++i)
    {
        const bool stored = i % 2 == 0;
        const size_t size = stored ? StoredSize : DeflatedSize;
        const size_t offset = (static_cast<size_t>(i) * 7919u * 64u) % (pool.size() - size);
        sources.push_back(std::make_unique<basic_imemstream<char>>(pool.data() + offset, size));
        auto entry = archive->CreateEntry("def/vehicle/truck/t" + std::to_string(i / 100) + "/data/file" +
                                          std::to_string(i) + (stored ? ".bin" : ".sii"));
        std::shared_ptr<ICompressionMethod> method;
        if (stored)
        {
            method = std::make_shared<StoreMethod>();
        }
        else
        {
            auto deflate = std::make_shared<DeflateMethod>();
            deflate->GetEncoderProperties().CompressionLevel = 1;
            method = deflate;
        }
        entry->SetCompressionStream(*sources.back(), method, CompressOnWrite);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    archive->WriteToStream(out);
    out.close();
    if (!out)
    {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

std::shared_ptr<ZipArchive> Open(const std::filesystem::path& path)
{
    return ZipArchive::Create(new std::ifstream(path, std::ios::binary));
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path folder =
        (argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path()) / "archive_bench";
    std::filesystem::create_directories(folder);
    const auto source = folder / "source.zip";
    const auto written = folder / "written.zip";
    const auto copied = folder / "copied.zip";

    std::printf("making %d entries...\n", EntryCount);
    MakeArchive(source);
    const auto size = std::filesystem::file_size(source);
    std::printf("archive: %.1f MiB\n", static_cast<double>(size) / (1 << 20));

    std::vector<double> openTimes, writeTimes, copyTimes;
    const std::string copyCommand = "cp '" + source.string() + "' '" + copied.string() + "'";
    for (int round = 0; round < Repetitions + 1; ++round)
    {
        std::filesystem::remove(written);
        std::filesystem::remove(copied);
        size_t entries = 0;
        const double open = Seconds([&] { entries = Open(source)->GetEntriesCount(); });
        if (entries != EntryCount)
        {
            std::fprintf(stderr, "opened %zu entries\n", entries);
            return 1;
        }

        auto archive = Open(source);
        bool good = false;
        const double write = Seconds([&] {
            std::ofstream out(written, std::ios::binary | std::ios::trunc);
            archive->WriteToStream(out);
            out.close();
            good = !out.fail();
        });
        if (!good)
        {
            std::fprintf(stderr, "writing failed\n");
            return 1;
        }

        const double copy = Seconds([&] {
            if (std::system(copyCommand.c_str()) != 0)
                std::exit(1);
        });
        if (round == 0)
            continue; // warm-up: fills the page cache
        openTimes.push_back(open);
        writeTimes.push_back(write);
        copyTimes.push_back(copy);
    }
    if (std::filesystem::file_size(written) != size)
    {
        std::fprintf(stderr, "the unchanged copy differs in size\n");
        return 1;
    }

    const double open = Median(openTimes), write = Median(writeTimes), copy = Median(copyTimes);
    std::printf("median of %d: open %.1f ms, write unchanged %.1f ms, cp %.1f ms\n", Repetitions, open * 1e3,
                write * 1e3, copy * 1e3);
    std::printf("write / cp   = %.2f (target <= 1.5)\n", write / copy);
    std::printf("open / write = %.3f (target < 0.1)\n", open / write);

    std::filesystem::remove_all(folder);
    return 0;
}
