#pragma once
// An input stream that reads straight out of a block of memory the caller owns: no copy, no
// allocation. The block must stay alive and unchanged while the stream is read. Positions
// are byte offsets from the block's first byte, 0 to size included.
#include <climits>
#include <cstddef>
#include <istream>
#include <streambuf>

template <class CharT, class Traits = std::char_traits<CharT>>
class mem_streambuf : public std::basic_streambuf<CharT, Traits>
{
public:
    using int_type = typename Traits::int_type;
    using pos_type = typename Traits::pos_type;
    using off_type = typename Traits::off_type;

    mem_streambuf(const CharT* data, size_t size)
    {
        // Both areas cover the block; writing through the put area overwrites it in place.
        CharT* first = const_cast<CharT*>(data);
        CharT* last = size == 0 ? first : first + size;
        this->setg(first, first, last);
        this->setp(first, last);
    }

protected:
    int_type underflow() override
    {
        if (this->gptr() < this->egptr())
            return Traits::to_int_type(*this->gptr());
        return Traits::eof();
    }

    int_type pbackfail(int_type c) override
    {
        if (this->gptr() <= this->eback())
            return Traits::eof();
        if (!Traits::eq_int_type(c, Traits::eof()) &&
            !Traits::eq(Traits::to_char_type(c), this->gptr()[-1]))
            return Traits::eof();
        this->gbump(-1);
        return Traits::not_eof(c);
    }

    int_type overflow(int_type c) override
    {
        if (Traits::eq_int_type(c, Traits::eof()))
            return Traits::eof();
        if (this->pptr() >= this->epptr())
            return Traits::eof();
        *this->pptr() = Traits::to_char_type(c);
        this->pbump(1);
        return c;
    }

    pos_type seekoff(off_type offset, std::ios_base::seekdir way,
                     std::ios_base::openmode which = std::ios_base::in | std::ios_base::out) override
    {
        const bool in = (which & std::ios_base::in) != 0;
        const bool out = (which & std::ios_base::out) != 0;
        off_type base;
        if (in)
        {
            if (way == std::ios_base::beg)
                base = 0;
            else if (way == std::ios_base::cur && !out)
                base = this->gptr() - this->eback();
            else if (way == std::ios_base::end)
                base = size();
            else
                return Fail(); // "cur" is ambiguous when both positions move
        }
        else if (out)
        {
            if (way == std::ios_base::beg)
                base = 0;
            else if (way == std::ios_base::cur)
                base = this->pptr() - this->pbase();
            else if (way == std::ios_base::end)
                base = size();
            else
                return Fail();
        }
        else
        {
            return Fail();
        }

        // Tested before adding, so that no offset can overflow.
        if ((offset < 0 && -offset > base) || (offset > 0 && offset > size() - base))
            return Fail();
        off_type target = base + offset;
        MoveTo(target, in, out);
        return pos_type(target);
    }

    pos_type seekpos(pos_type position,
                     std::ios_base::openmode which = std::ios_base::in | std::ios_base::out) override
    {
        const bool in = (which & std::ios_base::in) != 0;
        const bool out = (which & std::ios_base::out) != 0;
        off_type target = off_type(position);
        if (target < 0 || target > size() || (!in && !out))
            return Fail();
        MoveTo(target, in, out);
        return position;
    }

private:
    off_type size() const { return this->egptr() - this->eback(); }

    static pos_type Fail() { return pos_type(off_type(-1)); }

    void MoveTo(off_type target, bool in, bool out)
    {
        if (in)
            this->setg(this->eback(), this->eback() + target, this->egptr());
        if (out)
        {
            // pbump takes an int: move in steps for blocks beyond its range.
            this->setp(this->pbase(), this->epptr());
            while (target > 0)
            {
                int step = target > INT_MAX ? INT_MAX : static_cast<int>(target);
                this->pbump(step);
                target -= step;
            }
        }
    }
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_imemstream : public std::basic_istream<CharT, Traits>
{
public:
    basic_imemstream(const CharT* data, size_t size)
        : std::basic_istream<CharT, Traits>(nullptr), buffer(data, size)
    {
        std::basic_ios<CharT, Traits>::init(&buffer);
    }

    mem_streambuf<CharT, Traits>* rdbuf() const
    {
        return const_cast<mem_streambuf<CharT, Traits>*>(&buffer);
    }

private:
    mem_streambuf<CharT, Traits> buffer;
};
