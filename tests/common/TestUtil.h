#pragma once
// Shared helpers of the test suites: scratch folders, files, sample data, and running the
// peer tools (zip, unzip, 7z, python3) that make and check archives at test time.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return dir; }
    std::filesystem::path operator/(const std::string& name) const { return dir / name; }

private:
    std::filesystem::path dir;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& data);

// Deterministic sample data.
std::string RandomData(size_t size, uint32_t seed = 1);
std::string CompressibleData(size_t size, uint32_t seed = 1);

struct CommandResult
{
    int exitCode = -1;
    std::string output; // standard output and standard error together
};

// Runs a shell command; the exit code is the command's own. A command still running after
// 120 s is stopped and fails the test.
CommandResult RunCommand(const std::string& command);
// Runs a Python 3 script given as text, with the arguments appended (each quoted).
CommandResult RunPython(const std::string& script, const std::vector<std::string>& args = {});
// Quotes one word for the shell.
std::string ShellQuote(const std::string& word);
bool HaveTool(const std::string& name);

} // namespace testutil
