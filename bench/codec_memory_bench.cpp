// Peak memory of an archive that compresses many small entries at once (CompressAtOnce), as
// an editor adding files does: every entry keeps its method, so whatever a codec still holds
// after its stream has ended adds up per entry.
//
// Each case runs in a forked child so that the peaks of two cases never mix. A child prints
// its resident size before the loop (the baseline), its peak after the loop, and the peak
// above the baseline against its limit. The exit code is 1 when a case is over its limit.
//
// Run: codec_memory_bench [deflate entries] [LZMA entries]   (default 5000 and 100)
#include "bench/DefinitionText.h"
#include "zip/DeflateMethod.h"
#include "zip/LzmaMethod.h"
#include "zip/ZipArchive.h"
#include "zip/mem_stream.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

namespace {

constexpr double MiB = 1024.0 * 1024.0;

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 when unknown.
double StatusBytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::strtod(line.c_str() + field.size() + 1, nullptr) * 1024.0;
    return -1;
}

// Starts the peak over from the current resident size, so that a child does not inherit the
// parent's peak.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A small definition-like text file of 1 to 4 KB.
std::string SmallFile(std::mt19937& rng)
{
    const size_t size = 1024 + rng() % 3072;
    return DefinitionLikeText(rng, size);
}

template <class Method>
int RunCase(const char* name, int entries, double limitMiB)
{
    ResetPeak();
    std::mt19937 rng(7);
    auto archive = ZipArchive::Create(nullptr);
    const double baseline = StatusBytes("VmRSS");
    size_t input = 0;
    for (int i = 0; i < entries; ++i)
    {
        const std::string data = SmallFile(rng);
        input += data.size();
        auto entry = archive->CreateEntry("def/file" + std::to_string(i) + ".sii");
        basic_imemstream<char> stream(data.data(), data.size());
        if (!entry || !entry->SetCompressionStream(stream, std::make_shared<Method>(), CompressAtOnce))
        {
            std::printf("%-8s entry %d could not be compressed\n", name, i);
            return 2;
        }
    }
    const double peak = StatusBytes("VmHWM");
    const double after = StatusBytes("VmRSS");

    // The archive must still write whole: the entries kept their compressed data.
    std::ostringstream archiveBytes;
    archive->WriteToStream(archiveBytes);
    const bool written = archiveBytes.good() && archiveBytes.tellp() > 0;

    const double growth = (peak - baseline) / MiB;
    std::printf("%-8s %5d entries (%.1f MiB of text): baseline %7.1f MiB, peak %7.1f MiB, after %7.1f MiB; "
                "peak over baseline %7.1f MiB (limit %.0f MiB, %.2fx of it)%s%s\n",
                name, entries, static_cast<double>(input) / MiB, baseline / MiB, peak / MiB, after / MiB, growth,
                limitMiB, growth / limitMiB, growth <= limitMiB ? "" : "   OVER LIMIT",
                written ? "" : "   WRITE FAILED");
    std::fflush(stdout);
    return growth <= limitMiB && written ? 0 : 1;
}

// Runs one case in a child process; its exit code, or 3 when it died.
template <class Method>
int Forked(const char* name, int entries, double limitMiB)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0)
    {
        std::perror("fork");
        return 3;
    }
    if (pid == 0)
        _exit(RunCase<Method>(name, entries, limitMiB));
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    {
        std::printf("%-8s the child process died\n", name);
        return 3;
    }
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char** argv)
{
    const int deflateEntries = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int lzmaEntries = argc > 2 ? std::atoi(argv[2]) : 100;
    int result = 0;
    result |= Forked<DeflateMethod>("deflate", deflateEntries, 64);
    result |= Forked<LzmaMethod>("lzma", lzmaEntries, 400);
    return result;
}
