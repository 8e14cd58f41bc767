#pragma once
// An input stream of the bytes a codec's decoder produces. The get area is the decoder's own
// output buffer, refilled by one decode_next per underflow.
//
// A reader that knows how long the data are declared to be can set a limit: the stream then
// delivers at most that many bytes and tells whether the decoder had more past them, so that
// damaged data that decode too long are neither passed on nor taken for whole.
#include "zip/compression_interface.h"

#include <cstddef>
#include <cstdint>
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

    // Delivers at most `size` bytes of the data in all (those already delivered count).
    void set_limit(uint64_t size)
    {
        limit = size;
        limited = true;
    }
    // True once the decoder was seen to produce bytes past the limit: at the latest when a
    // read at the limit meets the end.
    bool exceeded_limit() const { return exceeded; }

protected:
    int_type underflow() override
    {
        if (this->gptr() < this->egptr())
            return Traits::to_int_type(*this->gptr());
        if (!decoder)
            return Traits::eof();
        if (limited && delivered >= limit)
        {
            // Whether the data end here is learnt once, by asking the decoder for more.
            if (!exceeded && !limit_checked)
                exceeded = decoder->decode_next() > 0;
            limit_checked = true;
            this->setg(nullptr, nullptr, nullptr);
            return Traits::eof();
        }
        size_t count = decoder->decode_next();
        CharT* begin = decoder->get_buffer_begin();
        if (count == 0 || !begin)
        {
            // After the end the decoder's buffer has no meaning: keep nothing of it readable.
            this->setg(nullptr, nullptr, nullptr);
            return Traits::eof();
        }
        if (limited && count > limit - delivered)
        {
            count = static_cast<size_t>(limit - delivered);
            exceeded = true;
        }
        delivered += count;
        this->setg(begin, begin, begin + count);
        return Traits::to_int_type(*begin);
    }

private:
    std::shared_ptr<decoder_type> decoder;
    uint64_t delivered = 0; // bytes put into get areas so far
    uint64_t limit = 0;
    bool limited = false;
    bool limit_checked = false;
    bool exceeded = false;
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

    // See compression_decoder_streambuf.
    void set_limit(uint64_t size) { buffer.set_limit(size); }
    bool exceeded_limit() const { return buffer.exceeded_limit(); }

private:
    streambuf_type buffer;
};
