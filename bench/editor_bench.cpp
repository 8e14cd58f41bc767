// Times the editor's open + save of a definition archive against `cp` + `sync` of the same file,
// in interleaved rounds of one run, for two archives of 2,000 trucks and 20,000 entries each:
// one of about 63 MiB (small entries: the cost per entry shows) and one of about 500 MiB (large
// stored models: the cost per byte shows). The save adds 10 trucks and removes 10.
// Prints each round and the minimum, median and maximum of the ratio (open + save) / (cp + sync).
// A second reference, a plain read/write copy through a 1 MiB buffer followed by fsync, shows
// what any copy through user memory costs on the machine at that moment (`cp` copies inside
// the kernel; the archive writer cannot, since it reads and writes streams).
// Run: editor_bench [folder for the scratch files, default: the system's temporary folder]
//                   [rounds, default 7]
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {

class BenchEditor : public PellucorEditor
{
public:
    std::wstring list;
    int errors = 0;
    int closed = 0;

protected:
    void ShowError(const std::wstring& text) override
    {
        ++errors;
        std::cerr << "error: " << text::ToNarrow(text) << "\n";
    }
    std::wstring GetTruckListText() override { return list; }
    void SetTruckListText(const std::wstring& text) override { list = text; }
    void EnableChangeExtension(bool) override {}
    bool IsChangeExtensionEnabled() override { return true; }
    void SetChangeExtensionCheck(bool) override {}
    bool IsChangeExtensionChecked() override { return false; }
    void CloseDialog(int result) override { closed = result; }
};

// Per truck: its folder, four engine and three transmission definitions (deflated), one other
// definition and one stored model of the given size: 10 entries.
const char* Generator = R"(
import random, sys, zipfile
out, model_size = sys.argv[1], int(sys.argv[2])
rng = random.Random(5)
model = bytes(rng.getrandbits(8) for _ in range(model_size))
filler = ''.join('\tinfo[]: "line %d of a definition"\r\n' % i for i in range(50))
def sii(kind, stem, truck):
    return ('SiiNunit\r\n{\r\n\taccessory_%s_data: %s.%s.%s\r\n' % (kind, stem, truck, kind) + filler + '}\r\n').encode()
with zipfile.ZipFile(out, 'w') as z:
    for t in range(2000):
        truck = 'truck%04d' % t
        root = 'def/vehicle/truck/%s/' % truck
        z.writestr(zipfile.ZipInfo(root), b'')
        for i in range(4):
            z.writestr(root + 'engine/e%d.sii' % i, sii('engine', 'e%d' % i, truck), zipfile.ZIP_DEFLATED)
        for i in range(3):
            z.writestr(root + 'transmission/t%d.sii' % i, sii('transmission', 't%d' % i, truck), zipfile.ZIP_DEFLATED)
        z.writestr(root + 'data.sii', b'data ' * 200, zipfile.ZIP_DEFLATED)
        # Vary the model a little so that no two are the same bytes.
        z.writestr(root + 'model.pmg', t.to_bytes(4, 'little') + model, zipfile.ZIP_STORED)
)";

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::duration<double>>(std::chrono::steady_clock::now() - start).count();
}

int Run(const std::string& command)
{
    return std::system(command.c_str());
}

std::string Quote(const std::filesystem::path& path)
{
    return "'" + path.string() + "'";
}

// The edited list: trucks 1000..1009 dropped, ten new ones added.
std::wstring EditedList()
{
    std::wstring list;
    for (int t = 0; t < 2000; ++t)
    {
        if (t >= 1000 && t < 1010)
            continue;
        wchar_t name[32];
        std::swprintf(name, 32, L"truck%04d\r\n", t);
        list += name;
    }
    for (int t = 0; t < 10; ++t)
        list += L"added" + std::to_wstring(t) + L"\r\n";
    return list;
}

// The copy a user-space program makes: read and write through one buffer, then fsync.
double PlainCopy(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::vector<char> buffer(1 << 20);
    const auto start = std::chrono::steady_clock::now();
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ssize_t n;
    while (in >= 0 && out >= 0 && (n = ::read(in, buffer.data(), buffer.size())) > 0)
        if (::write(out, buffer.data(), static_cast<size_t>(n)) != n)
            break;
    if (out >= 0)
    {
        ::fsync(out);
        ::close(out);
    }
    if (in >= 0)
        ::close(in);
    return Seconds(start);
}

struct Round
{
    double reference = 0; // cp + sync
    double plain = 0;     // plain copy + fsync
    double open = 0;
    double save = 0;
    double Ratio() const { return (open + save) / reference; }
    double PlainRatio() const { return (open + save) / plain; }
};

void PrintSpread(const char* what, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::printf("  %s: min %.2f, median %.2f, max %.2f\n", what, values.front(), values[values.size() / 2],
                values.back());
}

bool MeasureCase(const std::filesystem::path& dir, const std::string& title, int modelSize, int rounds)
{
    namespace fs = std::filesystem;
    const fs::path input = dir / "defs.zip";
    const fs::path copy = dir / "copy.zip";
    const fs::path work = dir / "work.zip";
    if (Run("python3 " + Quote(dir / "make.py") + " " + Quote(input) + " " + std::to_string(modelSize)) != 0)
        return false;
    std::cout << "\n" << title << ": " << fs::file_size(input) / (1024.0 * 1024.0) << " MiB\n";

    std::vector<Round> results;
    for (int r = 0; r < rounds; ++r)
    {
        // Both sides start alike: the input in the page cache, no dirty pages around. The order
        // alternates so that neither always runs on a machine just made busy by the other.
        Run("cp " + Quote(input) + " " + Quote(work) + " && cat " + Quote(input) + " > /dev/null && sync");
        Round round;
        auto reference = [&] {
            const auto start = std::chrono::steady_clock::now();
            Run("cp " + Quote(input) + " " + Quote(copy) + " && sync " + Quote(copy));
            round.reference = Seconds(start);
            Run("rm " + Quote(copy) + " && sync");
            round.plain = PlainCopy(input, copy);
            Run("rm " + Quote(copy) + " && sync");
        };
        auto editor = [&] {
            BenchEditor e;
            auto start = std::chrono::steady_clock::now();
            const bool opened = e.OpenArchive(text::WideFromPath(work));
            round.open = Seconds(start);
            if (!opened)
                return false;
            e.list = EditedList();
            start = std::chrono::steady_clock::now();
            e.OnSaveAndClose();
            round.save = Seconds(start);
            Run("sync");
            return e.closed == 1 && e.errors == 0;
        };
        bool saved = true;
        if (r % 2 == 0)
        {
            reference();
            saved = editor();
        }
        else
        {
            saved = editor();
            reference();
        }
        if (!saved)
        {
            std::cout << "the save failed\n";
            return false;
        }
        results.push_back(round);
        std::printf("round %d: cp + sync %.3f s, plain copy + fsync %.3f s, open %.3f s, save %.3f s, ratio %.2f\n",
                    r + 1, round.reference, round.plain, round.open, round.save, round.Ratio());
    }
    std::vector<double> ratios, plainRatios;
    for (const auto& r : results)
    {
        ratios.push_back(r.Ratio());
        plainRatios.push_back(r.PlainRatio());
    }
    std::printf("%s:\n", title.c_str());
    PrintSpread("(open + save) / (cp + sync)          ", ratios);
    PrintSpread("(open + save) / (plain copy + fsync) ", plainRatios);
    fs::remove(input);
    fs::remove(work);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const fs::path dir = base / ("pellucor-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        std::FILE* f = std::fopen((dir / "make.py").c_str(), "w");
        std::fputs(Generator, f);
        std::fclose(f);
    }
    const bool ok = MeasureCase(dir, "63 MiB, 20,000 entries", 28 * 1024, rounds) &&
                    MeasureCase(dir, "500 MiB, 20,000 entries", 256 * 1024, rounds);
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
