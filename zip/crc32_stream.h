#pragma once
// A read-through stream that hands on a source's bytes unchanged and keeps the ZIP CRC-32
// (zlib's crc32) of every byte handed out. Single-byte reads offer one byte at a time and
// block reads take runs of the buffer; either way each byte enters the checksum exactly once,
// when it is first offered, so the checksum is always that of what the reader has seen, even
// when it stops early. No repositioning.
#include <algorithm>
#include <cstdint>
#include <istream>
#include <streambuf>
#include <zlib.h>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_crc32_streambuf : public std::basic_streambuf<CharT, Traits>
{
public:
    using int_type = typename Traits::int_type;
    using istream_type = std::basic_istream<CharT, Traits>;

    static constexpr size_t BufferSize = 32768;

    basic_crc32_streambuf() = default;
    basic_crc32_streambuf(const basic_crc32_streambuf&) = delete;
    basic_crc32_streambuf& operator=(const basic_crc32_streambuf&) = delete;

    void init(istream_type& newSource)
    {
        source = &newSource;
        next = buffer + BufferSize;
        dataEnd = buffer + BufferSize;
        this->setg(dataEnd, dataEnd, dataEnd);
    }

    uint32_t get_crc32() const { return crc; }
    // Bytes fetched from the source, which may run ahead of those handed out.
    uint32_t get_bytes_read() const { return bytesRead; }

protected:
    int_type underflow() override
    {
        if (this->gptr() < this->egptr())
            return Traits::to_int_type(*this->gptr());
        if (next >= dataEnd && !Refill())
            return Traits::eof();
        this->setg(next, next, next + 1);
        ++next;
        Checksum(this->gptr(), 1);
        return Traits::to_int_type(*this->gptr());
    }

    // Block reads take whole runs of the buffer at once: the same bytes and the same checksum
    // as offering them one by one, without a virtual call per byte.
    std::streamsize xsgetn(CharT* target, std::streamsize count) override
    {
        std::streamsize done = 0;
        if (count > 0 && this->gptr() < this->egptr())
        {
            // A byte offered by a peek is already in the checksum.
            *target++ = *this->gptr();
            this->gbump(1);
            ++done;
        }
        while (done < count && (next < dataEnd || Refill()))
        {
            std::streamsize run = std::min<std::streamsize>(count - done, dataEnd - next);
            Traits::copy(target, next, static_cast<size_t>(run));
            Checksum(next, run);
            next += run;
            target += run;
            done += run;
        }
        this->setg(next, next, next);
        return done;
    }

private:
    bool Refill()
    {
        if (!source)
            return false;
        source->read(buffer, static_cast<std::streamsize>(BufferSize));
        std::streamsize count = source->gcount();
        if (count < 0)
            count = 0;
        bytesRead += static_cast<uint32_t>(count);
        next = buffer;
        dataEnd = buffer + count;
        return count > 0;
    }

    void Checksum(const CharT* bytes, std::streamsize count)
    {
        crc = static_cast<uint32_t>(::crc32(crc, reinterpret_cast<const Bytef*>(bytes),
                                            static_cast<uInt>(static_cast<size_t>(count) * sizeof(CharT))));
    }

    CharT buffer[BufferSize];
    CharT* next = buffer + BufferSize;
    CharT* dataEnd = buffer + BufferSize;
    istream_type* source = nullptr;
    uint32_t bytesRead = 0;
    uint32_t crc = 0;
};

using crc32_streambuf = basic_crc32_streambuf<char>;

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_crc32stream : public std::basic_istream<CharT, Traits>
{
public:
    basic_crc32stream() : std::basic_istream<CharT, Traits>(nullptr)
    {
        std::basic_ios<CharT, Traits>::init(&buffer);
    }

    void init(std::basic_istream<CharT, Traits>& source) { buffer.init(source); }
    uint32_t get_crc32() const { return buffer.get_crc32(); }
    uint32_t get_bytes_read() const { return buffer.get_bytes_read(); }

    basic_crc32_streambuf<CharT, Traits>* rdbuf() const
    {
        return const_cast<basic_crc32_streambuf<CharT, Traits>*>(&buffer);
    }

private:
    basic_crc32_streambuf<CharT, Traits> buffer;
};
