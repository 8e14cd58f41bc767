#pragma once
// The output file of a save: a seekable stream buffer straight over a file descriptor, so that
// every failure keeps its reason (a full disk says so), the data can be forced to the disk
// before the file takes the input's place, and writing back to the disk starts while the
// archive is still being written instead of all at the end.
#include "editor/FileOperations.h"

#include <cstddef>
#include <filesystem>
#include <streambuf>
#include <vector>

namespace editor {

class FileOutputBuffer : public std::streambuf
{
public:
    explicit FileOutputBuffer(FileOperations ops);
    ~FileOutputBuffer() override;
    FileOutputBuffer(const FileOutputBuffer&) = delete;
    FileOutputBuffer& operator=(const FileOutputBuffer&) = delete;

    // Creates the file as a new one, readable and writable by its owner only, never through a
    // symbolic link and never over anything that exists. False with Error() set otherwise
    // (EEXIST when the name is taken).
    bool Create(const std::filesystem::path& path);
    bool IsOpen() const { return fd >= 0; }
    // Writes what is buffered; false on any failure, of this step or of an earlier write.
    bool Flush();
    // Gives the file an owner and group (where the system allows it: a refusal for lack of
    // rights is no failure) and then a mode.
    bool SetOwnerAndMode(uid_t owner, gid_t group, mode_t mode);
    // Forces the file's data to the disk.
    bool Sync();
    // Closes the file; false when closing reports a failure, or an earlier step failed.
    bool Close();
    // The error number of the first failure, 0 when none.
    int Error() const { return error; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    bool WriteAll(const char* data, size_t count);
    void Fail(int number);

    FileOperations ops;
    std::vector<char> buffer;
    int fd = -1;
    int error = 0;
    off_t bufferStart = 0; // file position of the buffer's first byte
    off_t writebackFrom = 0;
};

} // namespace editor
