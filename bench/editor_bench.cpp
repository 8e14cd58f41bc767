// Times the editor on a large definition archive (about 500 MiB, 20,000 entries, 2,000 trucks):
// opening it (directory, truck scan, template), saving it with 10 trucks added and 10 removed,
// and, for scale, `cp` of the same file (also followed by a sync, since the save syncs) and a
// plain read/write copy through a 1 MiB buffer followed by fsync (the way any user-space
// program copies, which `cp` avoids by copying inside the kernel).
// Run: editor_bench [folder for the scratch files, default: the system's temporary folder]
#include "editor/PellucorEditor.h"
#include "editor/TextCodec.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
// definition and one stored model of about 250 KiB: 10 entries, about 262 KiB.
const char* Generator = R"(
import os, random, sys, zipfile
out = sys.argv[1]
rng = random.Random(5)
model = bytes(rng.getrandbits(8) for _ in range(256 * 1024))
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

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Run(const std::string& command)
{
    return std::system(command.c_str());
}

// The reference copy a user-space program makes: read and write through one buffer, then fsync.
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

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const fs::path dir = base / ("pellucor-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path input = dir / "defs.zip";
    const fs::path script = dir / "make.py";
    {
        std::FILE* f = std::fopen(script.c_str(), "w");
        std::fputs(Generator, f);
        std::fclose(f);
    }
    std::cout << "building the archive...\n";
    if (Run("python3 '" + script.string() + "' '" + input.string() + "'") != 0)
        return 1;
    std::cout << "archive: " << fs::file_size(input) / (1024.0 * 1024.0) << " MiB\n";

    // Each measurement starts with no dirty pages around, and runs five times; the medians
    // count, and every round is printed: on this kind of virtual machine a copy through user
    // memory is now and then several times slower than usual, the reference copy alike.
    const std::string quotedInput = "'" + input.string() + "'";
    const std::string copy = "'" + (dir / "copy.zip").string() + "'";
    const fs::path work = dir / "work.zip";
    std::vector<double> cps, cpSyncs, plains, opens, saves;
    bool saved = true;
    for (int rep = 0; rep < 5 && saved; ++rep)
    {
        Run("cat " + quotedInput + " > /dev/null && sync");
        auto start = std::chrono::steady_clock::now();
        Run("cp " + quotedInput + " " + copy);
        cps.push_back(Seconds(start));
        Run("rm " + copy + " && sync");
        start = std::chrono::steady_clock::now();
        Run("cp " + quotedInput + " " + copy + " && sync " + copy);
        cpSyncs.push_back(Seconds(start));
        Run("rm " + copy + " && sync");
        plains.push_back(PlainCopy(input, dir / "copy.zip"));
        Run("rm " + copy + " && cp " + quotedInput + " '" + work.string() + "' && sync");

        BenchEditor editor;
        start = std::chrono::steady_clock::now();
        const bool opened = editor.OpenArchive(text::WideFromPath(work));
        opens.push_back(Seconds(start));
        if (!opened)
            return 1;

        // Drop trucks 1000..1009, add ten new ones.
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
        editor.list = list;

        start = std::chrono::steady_clock::now();
        editor.OnSaveAndClose();
        saves.push_back(Seconds(start));
        saved = editor.closed == 1 && editor.errors == 0;
        std::cout << "round " << rep + 1 << ": cp " << cps.back() << " s, cp + sync " << cpSyncs.back()
                  << " s, plain copy + fsync " << plains.back() << " s, open " << opens.back()
                  << " s, save " << saves.back() << " s\n";
    }
    const double cp = Median(cps), cpSync = Median(cpSyncs), plain = Median(plains), open = Median(opens),
                 save = Median(saves);

    // The library's write alone, without the editor's work and without the sync.
    Run("sync");
    double writeOnly = 0;
    {
        auto archive = ZipArchive::Create(new std::ifstream(input, std::ios::binary));
        std::vector<char> buffer(1 << 20);
        std::ofstream out;
        out.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        out.open(dir / "rewritten.zip", std::ios::binary | std::ios::trunc);
        const auto start = std::chrono::steady_clock::now();
        archive->WriteToStream(out);
        out.close();
        writeOnly = Seconds(start);
    }

    std::cout << "open:            " << open << " s\n"
              << "save:            " << save << " s" << (saved ? "" : " (FAILED)") << "\n"
              << "write, no sync:  " << writeOnly << " s\n"
              << "cp:              " << cp << " s\n"
              << "cp + sync:       " << cpSync << " s\n"
              << "plain + fsync:   " << plain << " s\n"
              << "save / cp:       " << save / cp << " (target <= 2)\n"
              << "save / cp+sync:  " << save / cpSync << "\n"
              << "save / plain:    " << save / plain << "\n"
              << "write / cp:      " << writeOnly / cp << "\n"
              << "open / save:     " << open / save << " (target <= 0.1)\n";
    fs::remove_all(dir);
    return saved ? 0 : 1;
}
