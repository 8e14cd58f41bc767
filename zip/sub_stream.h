#pragma once
// A read-only window of a fixed number of bytes starting at a given position of another
// input stream. An entry's stored data is read through such a window over the archive's
// input stream. The source is sought before every refill, so several windows (and the
// archive reader) may share one source and be read alternately. No repositioning.
#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_sub_streambuf : public std::basic_streambuf<CharT, Traits>
{
public:
    using int_type = typename Traits::int_type;
    using pos_type = typename Traits::pos_type;
    using off_type = typename Traits::off_type;
    using istream_type = std::basic_istream<CharT, Traits>;

    static constexpr size_t BufferSize = 32768;

    basic_sub_streambuf() = default;
    basic_sub_streambuf(const basic_sub_streambuf&) = delete;
    basic_sub_streambuf& operator=(const basic_sub_streambuf&) = delete;

    void init(istream_type* newSource, pos_type newStart, uint32_t length)
    {
        source = newSource;
        start = newStart;
        current = newStart;
        end = newStart + static_cast<off_type>(length);
        if (!buffer)
            buffer.reset(new CharT[BufferSize]);
        CharT* bufferEnd = buffer.get() + BufferSize;
        this->setg(bufferEnd, bufferEnd, bufferEnd);
    }

    // The stream read from; null once detached.
    istream_type* get_source() const { return source; }
    // Stops reading the source (it is about to go away): the bytes already buffered are still
    // delivered, then the window ends.
    void detach() { source = nullptr; }

protected:
    int_type underflow() override
    {
        if (this->gptr() < this->egptr())
            return Traits::to_int_type(*this->gptr());
        if (!source || !buffer)
            return Traits::eof();

        // Another reader may have moved the shared source since the last refill, or left it
        // failed by reading past its end; neither may cut this window short. A broken source
        // (badbit) stays broken.
        if (source->fail() && !source->bad())
            source->clear();
        source->seekg(current - pos_type(off_type(0)), std::ios_base::beg);
        if (source->fail())
            return Traits::eof();

        off_type remaining = end - current;
        if (remaining <= 0)
            return Traits::eof();
        std::streamsize wanted = remaining < static_cast<off_type>(BufferSize)
                                     ? static_cast<std::streamsize>(remaining)
                                     : static_cast<std::streamsize>(BufferSize);
        source->read(buffer.get(), wanted);
        std::streamsize count = source->gcount();
        if (count <= 0)
            return Traits::eof();
        current += static_cast<off_type>(count);
        this->setg(buffer.get(), buffer.get(), buffer.get() + count);
        return Traits::to_int_type(*this->gptr());
    }

private:
    std::unique_ptr<CharT[]> buffer;
    istream_type* source = nullptr;
    pos_type start = pos_type(off_type(0));
    pos_type current = pos_type(off_type(0));
    pos_type end = pos_type(off_type(0));
};

using sub_streambuf = basic_sub_streambuf<char>;

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_isubstream : public std::basic_istream<CharT, Traits>
{
public:
    basic_isubstream(std::basic_istream<CharT, Traits>& source, std::streampos start, uint32_t length)
        : std::basic_istream<CharT, Traits>(nullptr)
    {
        buffer.init(&source, start, length);
        std::basic_ios<CharT, Traits>::init(&buffer);
    }

    basic_sub_streambuf<CharT, Traits>* rdbuf() const
    {
        return const_cast<basic_sub_streambuf<CharT, Traits>*>(&buffer);
    }

private:
    basic_sub_streambuf<CharT, Traits> buffer;
};
