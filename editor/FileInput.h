#pragma once
// The opened archive's input: a read-only, seekable stream buffer over a file descriptor with one
// large buffer. The archive reads a local header and then the stored bytes of each entry, seeking
// before each; a seek that lands inside the buffered range only moves the read pointer, so
// consecutive entries cost no system call at all, and the file is read in large sequential blocks.
// The same descriptor gives the file's identity, which the save compares with what is on disk.
#include "editor/FileOperations.h"

#include <ctime>
#include <filesystem>
#include <istream>
#include <streambuf>
#include <vector>

namespace editor {

// What tells the opened file from any other, or from itself after another program wrote to it;
// the mode and owner are carried over to the file that replaces it. The modification time can be
// set back by the program that wrote (touch -r, cp -p, rsync -t); the status-change time cannot,
// as every write and every setting of the times moves it on.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec statusChanged{};
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;

    static FileIdentity Of(const struct stat& status);
    // Same device, inode, size, modification time and status-change time.
    bool SameFileAs(const FileIdentity& other) const;
};

class FileInputBuffer : public std::streambuf
{
public:
    explicit FileInputBuffer(FileOperations ops);
    ~FileInputBuffer() override;
    FileInputBuffer(const FileInputBuffer&) = delete;
    FileInputBuffer& operator=(const FileInputBuffer&) = delete;

    // Opens a regular file for reading. A folder, FIFO, socket or device is refused (EISDIR or
    // EINVAL) without ever blocking on it. False with Error() set when it cannot be opened.
    bool Open(const std::filesystem::path& path);
    const FileIdentity& Identity() const { return identity; }
    // The error number of the first failed read (or of the open), 0 when none.
    int Error() const { return error; }
    // Forgets an earlier failure, so that a later attempt reports only its own.
    void ClearError() { error = 0; }

protected:
    int_type underflow() override;
    std::streamsize xsgetn(char* data, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    // Reads up to `count` bytes at `offset`, retrying short reads; the bytes read, -1 on failure.
    ssize_t ReadAt(char* data, size_t count, off_t offset);
    off_t Position() const { return bufferStart + (gptr() - eback()); }

    FileOperations ops;
    std::vector<char> buffer;
    int fd = -1;
    int error = 0;
    off_t bufferStart = 0; // file position of eback()
    FileIdentity identity;
};

// An input stream that owns its FileInputBuffer: the archive takes it over and deletes it.
class FileInputStream : public std::istream
{
public:
    explicit FileInputStream(FileOperations ops) : std::istream(nullptr), file(std::move(ops)) { rdbuf(&file); }
    FileInputBuffer& File() { return file; }

private:
    FileInputBuffer file;
};

} // namespace editor
