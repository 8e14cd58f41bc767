#pragma once
// The file system calls through which the editor reads the opened archive and saves the new one.
// They are held as replaceable functions so that a test can make any single step fail (a full
// disk on the third write, a failing sync, a rename refused) without a special file system.
// Every function reports like the system call it stands for: -1 and errno on failure.
#include <functional>
#include <sys/stat.h>
#include <sys/types.h>

namespace editor {

struct FileOperations
{
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<ssize_t(int fd, void* data, size_t count, off_t offset)> pread;
    std::function<ssize_t(int fd, const void* data, size_t count)> write;
    std::function<off_t(int fd, off_t offset, int whence)> lseek;
    std::function<int(int fd, struct stat* status)> fstat;
    std::function<int(const char* path, struct stat* status)> stat;
    std::function<int(const char* path, struct stat* status)> lstat;
    std::function<int(int fd, mode_t mode)> fchmod;
    std::function<int(int fd, uid_t owner, gid_t group)> fchown;
    std::function<int(int fd)> fsync;
    std::function<int(int fd)> close;
    std::function<int(const char* from, const char* to)> rename;
    std::function<int(const char* path)> unlink;
};

// The real calls of the operating system.
FileOperations SystemFileOperations();

} // namespace editor
