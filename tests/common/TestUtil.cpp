#include "TestUtil.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testutil {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pellucor-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    dir = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable so removal succeeds.
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir, ec);
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string RandomData(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string data(size, '\0');
    for (auto& c : data)
        c = static_cast<char>(rng() & 0xFF);
    return data;
}

std::string CompressibleData(size_t size, uint32_t seed)
{
    static const char* words[] = {"engine", "transmission", "truck", "accessory", "data", "unit",
                                  "torque", "gear", "ratio", "{", "}", "\r\n", ":", " ", "\t"};
    std::mt19937 rng(seed);
    std::string data;
    data.reserve(size + 16);
    while (data.size() < size)
    {
        data += words[rng() % (sizeof(words) / sizeof(words[0]))];
        if (rng() % 7 == 0)
            data += std::to_string(rng() % 1000);
    }
    data.resize(size);
    return data;
}

CommandResult RunCommand(const std::string& command)
{
    // A peer tool that spins on bad data must not hold a test until the test's own timeout: at
    // the limit, timeout ends the command and all it started, and the test fails naming it.
    constexpr int LimitSeconds = 120;
    CommandResult result;
    const auto started = std::chrono::steady_clock::now();
    FILE* pipe = popen(("timeout -k 10 " + std::to_string(LimitSeconds) + " sh -c " + ShellQuote(command) + " 2>&1").c_str(),
                       "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if ((result.exitCode == 124 || result.exitCode == 128 + SIGKILL) &&
        std::chrono::steady_clock::now() - started >= std::chrono::seconds(LimitSeconds))
        ADD_FAILURE() << "command stopped after " << LimitSeconds << " s: " << command;
    return result;
}

std::string ShellQuote(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
    {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

CommandResult RunPython(const std::string& script, const std::vector<std::string>& args)
{
    TempDir dir;
    auto file = dir / "script.py";
    WriteFile(file, script);
    std::string command = "python3 " + ShellQuote(file.string());
    for (const auto& a : args)
        command += " " + ShellQuote(a);
    return RunCommand(command);
}

bool HaveTool(const std::string& name)
{
    return RunCommand("command -v " + ShellQuote(name) + " >/dev/null").exitCode == 0;
}

} // namespace testutil
