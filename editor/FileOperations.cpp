#include "editor/FileOperations.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace editor {

FileOperations SystemFileOperations()
{
    FileOperations ops;
    ops.open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
    ops.pread = [](int fd, void* data, size_t count, off_t offset) { return ::pread(fd, data, count, offset); };
    ops.write = [](int fd, const void* data, size_t count) { return ::write(fd, data, count); };
    ops.lseek = [](int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); };
    ops.fstat = [](int fd, struct stat* status) { return ::fstat(fd, status); };
    ops.stat = [](const char* path, struct stat* status) { return ::stat(path, status); };
    ops.lstat = [](const char* path, struct stat* status) { return ::lstat(path, status); };
    ops.fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); };
    ops.fchown = [](int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); };
    ops.fsync = [](int fd) { return ::fsync(fd); };
    ops.close = [](int fd) { return ::close(fd); };
    ops.rename = [](const char* from, const char* to) { return std::rename(from, to); };
    ops.unlink = [](const char* path) { return ::unlink(path); };
    return ops;
}

} // namespace editor
