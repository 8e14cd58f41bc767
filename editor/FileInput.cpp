#include "editor/FileInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace editor {

namespace {

// Large enough that a run of small entries (a local header and a few KiB of data each) is
// served from memory for dozens of entries per read.
constexpr size_t BufferSize = 1 << 20;
// A request at least this large that the buffer cannot serve whole goes straight to the caller's
// memory for the part the buffer lacks: large stored data are then copied once, not twice.
constexpr std::streamsize DirectReadSize = 64 << 10;

bool SameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

FileIdentity FileIdentity::Of(const struct stat& status)
{
    FileIdentity id;
    id.device = status.st_dev;
    id.inode = status.st_ino;
    id.size = status.st_size;
    id.modified = status.st_mtim;
    id.statusChanged = status.st_ctim;
    id.mode = status.st_mode;
    id.owner = status.st_uid;
    id.group = status.st_gid;
    return id;
}

bool FileIdentity::SameFileAs(const FileIdentity& other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           SameTime(modified, other.modified) && SameTime(statusChanged, other.statusChanged);
}

FileInputBuffer::FileInputBuffer(FileOperations ops) : ops(std::move(ops)), buffer(BufferSize)
{
    setg(buffer.data(), buffer.data(), buffer.data());
}

FileInputBuffer::~FileInputBuffer()
{
    if (fd >= 0)
        ops.close(fd);
}

bool FileInputBuffer::Open(const std::filesystem::path& path)
{
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer; the
    // flag means nothing for the regular file that is then the only thing accepted.
    fd = ops.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    if (fd < 0)
    {
        error = errno != 0 ? errno : EIO;
        return false;
    }
    struct stat status{};
    const bool known = ops.fstat(fd, &status) == 0;
    if (!known || !S_ISREG(status.st_mode))
    {
        error = !known ? (errno != 0 ? errno : EIO) : S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        ops.close(fd);
        fd = -1;
        return false;
    }
    identity = FileIdentity::Of(status);
    bufferStart = 0;
    setg(buffer.data(), buffer.data(), buffer.data());
    return true;
}

ssize_t FileInputBuffer::ReadAt(char* data, size_t count, off_t offset)
{
    size_t done = 0;
    while (done < count)
    {
        const ssize_t got = ops.pread(fd, data + done, count - done, offset + static_cast<off_t>(done));
        if (got < 0)
        {
            if (errno == EINTR)
                continue;
            if (error == 0)
                error = errno != 0 ? errno : EIO;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

FileInputBuffer::int_type FileInputBuffer::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (fd < 0)
        return traits_type::eof();
    const off_t position = Position();
    const ssize_t got = ReadAt(buffer.data(), buffer.size(), position);
    bufferStart = position;
    setg(buffer.data(), buffer.data(), buffer.data() + std::max<ssize_t>(got, 0));
    if (got <= 0)
        return traits_type::eof();
    return traits_type::to_int_type(*gptr());
}

std::streamsize FileInputBuffer::xsgetn(char* data, std::streamsize count)
{
    std::streamsize done = 0;
    while (done < count)
    {
        const std::streamsize available = egptr() - gptr();
        if (available > 0)
        {
            const std::streamsize take = std::min(available, count - done);
            std::memcpy(data + done, gptr(), static_cast<size_t>(take));
            gbump(static_cast<int>(take));
            done += take;
            continue;
        }
        const std::streamsize rest = count - done;
        if (rest >= DirectReadSize && fd >= 0)
        {
            // The buffer then starts empty where the request ended.
            const off_t position = Position();
            const ssize_t got = ReadAt(data + done, static_cast<size_t>(rest), position);
            const off_t after = position + std::max<ssize_t>(got, 0);
            bufferStart = after;
            setg(buffer.data(), buffer.data(), buffer.data());
            if (got <= 0)
                break;
            done += got;
            if (got < rest)
                break;
            continue;
        }
        if (traits_type::eq_int_type(underflow(), traits_type::eof()))
            break;
    }
    return done;
}

FileInputBuffer::pos_type FileInputBuffer::seekoff(off_type offset, std::ios_base::seekdir way,
                                                   std::ios_base::openmode which)
{
    if (!(which & std::ios_base::in) || fd < 0)
        return pos_type(off_type(-1));
    off_t base = 0;
    if (way == std::ios_base::cur)
        base = Position();
    else if (way == std::ios_base::end)
    {
        struct stat status{};
        if (ops.fstat(fd, &status) != 0)
            return pos_type(off_type(-1));
        base = status.st_size;
    }
    const off_t target = base + static_cast<off_t>(offset);
    if (target < 0)
        return pos_type(off_type(-1));
    // Inside what the buffer holds (its end included): only the read pointer moves.
    const off_t filled = egptr() - eback();
    if (target >= bufferStart && target <= bufferStart + filled)
    {
        setg(eback(), eback() + (target - bufferStart), egptr());
        return pos_type(target);
    }
    // Elsewhere: the next read fetches from there; no system call until then.
    bufferStart = target;
    setg(buffer.data(), buffer.data(), buffer.data());
    return pos_type(target);
}

FileInputBuffer::pos_type FileInputBuffer::seekpos(pos_type position, std::ios_base::openmode which)
{
    return seekoff(off_type(position), std::ios_base::beg, which);
}

} // namespace editor
