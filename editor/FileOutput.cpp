#include "editor/FileOutput.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace editor {

namespace {

constexpr size_t BufferSize = 1 << 20;
// Written data beyond this much is handed to the disk at once, so the final sync finds little
// left to do.
constexpr off_t WritebackStep = 16 << 20;

} // namespace

FileOutputBuffer::FileOutputBuffer(FileOperations ops) : ops(std::move(ops)), buffer(BufferSize)
{
}

FileOutputBuffer::~FileOutputBuffer()
{
    if (fd >= 0)
        ops.close(fd);
}

bool FileOutputBuffer::Create(const std::filesystem::path& path)
{
    fd = ops.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
    {
        error = errno != 0 ? errno : EIO;
        return false;
    }
    error = 0;
    setp(buffer.data(), buffer.data() + buffer.size());
    return true;
}

void FileOutputBuffer::Fail(int number)
{
    if (error == 0)
        error = number != 0 ? number : EIO;
}

bool FileOutputBuffer::WriteAll(const char* data, size_t count)
{
    if (error != 0 || fd < 0)
        return false;
    while (count > 0)
    {
        const ssize_t written = ops.write(fd, data, count);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            Fail(errno);
            return false;
        }
        if (written == 0)
        {
            Fail(EIO);
            return false;
        }
        data += written;
        count -= static_cast<size_t>(written);
        bufferStart += written;
    }
    if (bufferStart - writebackFrom >= WritebackStep)
    {
        // Only a hint: its failure shows again in the final sync.
        ::sync_file_range(fd, writebackFrom, bufferStart - writebackFrom, SYNC_FILE_RANGE_WRITE);
        writebackFrom = bufferStart;
    }
    return true;
}

bool FileOutputBuffer::Flush()
{
    const size_t pending = static_cast<size_t>(pptr() - pbase());
    setp(buffer.data(), buffer.data() + buffer.size());
    return pending == 0 ? error == 0 : WriteAll(buffer.data(), pending);
}

FileOutputBuffer::int_type FileOutputBuffer::overflow(int_type c)
{
    if (!Flush())
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof()))
    {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

std::streamsize FileOutputBuffer::xsputn(const char* data, std::streamsize count)
{
    // Blocks at least as large as the buffer (the archive writer hands over 1 MiB at a time) go
    // straight to the file instead of being copied into the buffer first.
    if (count >= static_cast<std::streamsize>(buffer.size()))
    {
        if (!Flush())
            return 0;
        return WriteAll(data, static_cast<size_t>(count)) ? count : 0;
    }
    if (count > epptr() - pptr() && !Flush())
        return 0;
    traits_type::copy(pptr(), data, static_cast<size_t>(count));
    pbump(static_cast<int>(count));
    return count;
}

int FileOutputBuffer::sync()
{
    return Flush() ? 0 : -1;
}

FileOutputBuffer::pos_type FileOutputBuffer::seekoff(off_type offset, std::ios_base::seekdir way,
                                                     std::ios_base::openmode which)
{
    const off_t current = bufferStart + (pptr() - pbase());
    if (!(which & std::ios_base::out) || fd < 0)
        return pos_type(off_type(-1));
    // Asking where the stream stands is frequent and needs no system call.
    if (way == std::ios_base::cur && offset == 0)
        return pos_type(current);
    if (!Flush())
        return pos_type(off_type(-1));
    off_t base = 0;
    if (way == std::ios_base::cur)
        base = current;
    else if (way == std::ios_base::end)
    {
        base = ops.lseek(fd, 0, SEEK_END);
        if (base < 0)
            return pos_type(off_type(-1));
    }
    const off_t target = ops.lseek(fd, base + offset, SEEK_SET);
    if (target < 0)
        return pos_type(off_type(-1));
    bufferStart = target;
    return pos_type(target);
}

FileOutputBuffer::pos_type FileOutputBuffer::seekpos(pos_type position, std::ios_base::openmode which)
{
    return seekoff(off_type(position), std::ios_base::beg, which);
}

bool FileOutputBuffer::SetOwnerAndMode(uid_t owner, gid_t group, mode_t mode)
{
    if (fd < 0 || error != 0)
        return false;
    // The owner first: a change of owner clears the set-user-ID and set-group-ID bits. Only a
    // privileged process may give a file away (EPERM), and an owner unknown inside a user
    // namespace cannot be given (EINVAL); then the file stays the saving user's own.
    if (ops.fchown(fd, owner, group) != 0 && errno != EPERM && errno != EINVAL)
    {
        Fail(errno);
        return false;
    }
    // A file system without modes (a FAT stick) refuses them for lack of rights.
    if (ops.fchmod(fd, mode & 07777) != 0 && errno != EPERM)
        Fail(errno);
    return error == 0;
}

bool FileOutputBuffer::Sync()
{
    if (fd < 0 || !Flush())
        return false;
    if (ops.fsync(fd) != 0)
        Fail(errno);
    return error == 0;
}

bool FileOutputBuffer::Close()
{
    if (fd < 0)
        return false;
    // Once close was called the descriptor is gone, whatever it reports.
    const int result = ops.close(fd);
    fd = -1;
    if (result != 0)
        Fail(errno);
    return error == 0;
}

} // namespace editor
