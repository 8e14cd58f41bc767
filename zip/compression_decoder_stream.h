#pragma once
// An input stream of the bytes a codec's decoder produces. The get area is the decoder's own
// output buffer, refilled by one decode_next per underflow.
#include "zip/compression_interface.h"

#include <cstddef>
#include <istream>
#include <memory>
#include <streambuf>
#include <utility>

template <class CharT, class Traits = std::char_traits<CharT>>
class compression_decoder_streambuf : public std::basic_streambuf<CharT, Traits>
{
public:
    using decoder_type = compression_decoder_interface_basic<CharT, Traits>;
    using istream_type = std::basic_istream<CharT, Traits>;
    using int_type = typename Traits::int_type;
    using traits_type = Traits;

    // Every decoder runs with its own defaults; the properties are taken for symmetry with
    // the encoder side and not consulted.
    compression_decoder_streambuf(std::shared_ptr<decoder_type> decoder,
                                  compression_decoder_properties_interface& /*properties*/, istream_type& stream)
        : decoder(std::move(decoder))
    {
        if (this->decoder)
        {
            this->decoder->init_with_defaults(stream);
            CharT* end = this->decoder->get_buffer_end();
            this->setg(end, end, end);
        }
    }

    compression_decoder_streambuf(const compression_decoder_streambuf&) = delete;
    compression_decoder_streambuf& operator=(const compression_decoder_streambuf&) = delete;

protected:
    int_type underflow() override
    {
        if (this->gptr() < this->egptr())
            return Traits::to_int_type(*this->gptr());
        if (!decoder)
            return Traits::eof();
        const size_t count = decoder->decode_next();
        CharT* begin = decoder->get_buffer_begin();
        if (count == 0 || !begin)
        {
            // After the end the decoder's buffer has no meaning: keep nothing of it readable.
            this->setg(nullptr, nullptr, nullptr);
            return Traits::eof();
        }
        this->setg(begin, begin, begin + count);
        return Traits::to_int_type(*begin);
    }

private:
    std::shared_ptr<decoder_type> decoder;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_compression_decoder_stream : public std::basic_istream<CharT, Traits>
{
public:
    using streambuf_type = compression_decoder_streambuf<CharT, Traits>;

    basic_compression_decoder_stream(std::shared_ptr<compression_decoder_interface_basic<CharT, Traits>> decoder,
                                     compression_decoder_properties_interface& properties,
                                     std::basic_istream<CharT, Traits>& stream)
        : std::basic_istream<CharT, Traits>(nullptr), buffer(std::move(decoder), properties, stream)
    {
        this->init(&buffer);
    }

private:
    streambuf_type buffer;
};
