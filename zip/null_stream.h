#pragma once
// A sink that accepts block writes of any size and keeps nothing; reading gives end of file.
// Used where only a checksum of the data is wanted.
#include <istream>
#include <streambuf>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_null_streambuf : public std::basic_streambuf<CharT, Traits>
{
protected:
    std::streamsize xsgetn(CharT*, std::streamsize) override { return 0; }
    std::streamsize xsputn(const CharT*, std::streamsize count) override { return count; }
};

using null_streambuf = basic_null_streambuf<char>;

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_nullstream : public std::basic_iostream<CharT, Traits>
{
public:
    basic_nullstream() : std::basic_iostream<CharT, Traits>(nullptr)
    {
        std::basic_ios<CharT, Traits>::init(&buffer);
    }

    basic_null_streambuf<CharT, Traits>* rdbuf() const
    {
        return const_cast<basic_null_streambuf<CharT, Traits>*>(&buffer);
    }

private:
    basic_null_streambuf<CharT, Traits> buffer;
};
