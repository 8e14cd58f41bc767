#pragma once
// The output file of a save: a seekable stream buffer straight over a file descriptor, so that
// every failure keeps its reason (a full disk says so), the data can be forced to the disk
// before the file takes the input's place, and writing back to the disk starts while the
// archive is still being written instead of all at the end.
#include <cstddef>
#include <filesystem>
#include <streambuf>
#include <vector>

class FileOutputBuffer : public std::streambuf
{
public:
    FileOutputBuffer();
    ~FileOutputBuffer() override;
    FileOutputBuffer(const FileOutputBuffer&) = delete;
    FileOutputBuffer& operator=(const FileOutputBuffer&) = delete;

    // Creates or truncates the file; false when it cannot be opened.
    bool Open(const std::filesystem::path& path);
    bool IsOpen() const { return fd >= 0; }
    // Writes what is buffered, forces the file's data to the disk and closes it; false on any
    // failure, of this step or of an earlier write.
    bool SyncAndClose();
    // The error number of the first failure, 0 when none.
    int Error() const { return error; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int sync() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    bool Flush();
    bool WriteAll(const char* data, size_t count);
    void Fail(int number);

    std::vector<char> buffer;
    int fd = -1;
    int error = 0;
    off_t bufferStart = 0; // file position of the buffer's first byte
    off_t writebackFrom = 0;
};
