#pragma once
// An output stream buffer that gathers everything the archive writer produces in one large
// block and hands it to the real output in writes of that size. Stored bytes are read straight
// into the block, so an unchanged entry costs no write of its own and no extra copy.
#include <cstring>
#include <ostream>
#include <streambuf>
#include <memory>

class StagedOutput : public std::streambuf
{
public:
    // The block is not zeroed: a small archive touches only the pages it fills.
    StagedOutput(std::ostream& target, size_t size) : target(target), block(new char[size]), size(size)
    {
        setp(block.get(), block.get() + size);
    }
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Free room in the block, where a caller may put bytes directly and then Advance.
    char* Cursor() { return pptr(); }
    size_t Space() const { return static_cast<size_t>(epptr() - pptr()); }
    void Advance(size_t count) { pbump(static_cast<int>(count)); }

    // Hands the gathered bytes to the real output; false once it has failed.
    bool Drain()
    {
        const std::streamsize count = pptr() - pbase();
        if (count > 0)
            target.write(pbase(), count);
        setp(block.get(), block.get() + size);
        return !target.fail();
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!Drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof()))
        {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* data, std::streamsize count) override
    {
        if (count > epptr() - pptr())
        {
            if (!Drain())
                return 0;
            if (count >= static_cast<std::streamsize>(size))
            {
                target.write(data, count);
                return target.fail() ? 0 : count;
            }
        }
        std::memcpy(pptr(), data, static_cast<size_t>(count));
        pbump(static_cast<int>(count));
        return count;
    }

    int sync() override { return Drain() ? 0 : -1; }

    pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode) override
    {
        if (!Drain())
            return pos_type(off_type(-1));
        if (offset != 0 || way != std::ios_base::cur)
            target.seekp(offset, way);
        return target.fail() ? pos_type(off_type(-1)) : target.tellp();
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode) override
    {
        if (!Drain())
            return pos_type(off_type(-1));
        target.seekp(position);
        return target.fail() ? pos_type(off_type(-1)) : position;
    }

private:
    std::ostream& target;
    std::unique_ptr<char[]> block;
    size_t size;
};
