#pragma once
// An output stream whose bytes go to a codec's encoder in blocks. The put area is the
// encoder's own input buffer minus its last byte; that byte takes the character that
// overflow receives, so a full block reaches the encoder without a copy.
#include "zip/compression_interface.h"

#include <cstddef>
#include <memory>
#include <ostream>
#include <streambuf>
#include <utility>

template <class CharT, class Traits = std::char_traits<CharT>>
class compression_encoder_streambuf : public std::basic_streambuf<CharT, Traits>
{
public:
    using encoder_type = compression_encoder_interface_basic<CharT, Traits>;
    using ostream_type = std::basic_ostream<CharT, Traits>;
    using int_type = typename Traits::int_type;
    using traits_type = Traits;

    compression_encoder_streambuf(compression_encoder_properties_interface& properties, ostream_type& stream,
                                  std::shared_ptr<encoder_type> encoder)
        : encoder(std::move(encoder))
    {
        if (this->encoder)
        {
            this->encoder->init(stream, properties);
            reset_put_area();
        }
    }

    compression_encoder_streambuf(const compression_encoder_streambuf&) = delete;
    compression_encoder_streambuf& operator=(const compression_encoder_streambuf&) = delete;

    // Finishes the codec's stream when no flush did; a destructor must not throw, and a
    // failure here can only be seen through the output stream's own state.
    ~compression_encoder_streambuf() override
    {
        try
        {
            finish();
        }
        catch (...)
        {
        }
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!encoder)
            return Traits::eof();
        const bool isEof = Traits::eq_int_type(c, Traits::eof());
        if (ended)
        {
            // The codec's stream is complete; a byte written now could only be lost.
            if (isEof)
                return Traits::not_eof(c);
            rejected = true;
            return Traits::eof();
        }
        size_t held = static_cast<size_t>(this->pptr() - this->pbase());
        if (!isEof)
        {
            if (blockSize == 0)
            {
                // The codec offers no block (its worker failed): nowhere to put the byte.
                rejected = true;
                return Traits::eof();
            }
            block[held++] = Traits::to_char_type(c);
            if (held < blockSize)
            {
                this->pbump(1);
                return Traits::not_eof(c);
            }
        }
        hand_over(held);
        if (failed())
            return Traits::eof();
        return Traits::not_eof(c);
    }

    // Ends the codec's stream with the bytes held, then lets the encoder finish its output.
    int sync() override
    {
        if (!encoder)
            return -1;
        finish();
        return failed() ? -1 : 0;
    }

private:
    void finish()
    {
        if (!encoder)
            return;
        if (!ended)
            hand_over(static_cast<size_t>(this->pptr() - this->pbase()));
        encoder->sync();
    }

    bool failed() const { return rejected || encoder->failed(); }

    // A block shorter than the block size ends the codec's stream; a full one asks for the next.
    void hand_over(size_t count)
    {
        const bool last = blockSize == 0 || count < blockSize;
        encoder->encode_next(count);
        if (last)
        {
            ended = true;
            block = nullptr;
            blockSize = 0;
            this->setp(nullptr, nullptr);
        }
        else
        {
            reset_put_area();
        }
    }

    // The block size is asked anew after every hand-over: a codec may offer blocks of
    // different sizes, or none at all.
    void reset_put_area()
    {
        CharT* begin = encoder->get_buffer_begin();
        CharT* end = encoder->get_buffer_end();
        if (begin && end && end > begin)
        {
            block = begin;
            blockSize = static_cast<size_t>(end - begin);
            this->setp(begin, end - 1);
        }
        else
        {
            block = nullptr;
            blockSize = 0;
            this->setp(nullptr, nullptr);
        }
    }

    std::shared_ptr<encoder_type> encoder;
    CharT* block = nullptr;
    size_t blockSize = 0;
    bool ended = false;    // the codec's stream has been ended by a short block
    bool rejected = false; // bytes were written that could not be handed to the codec
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_compression_encoder_stream : public std::basic_ostream<CharT, Traits>
{
public:
    using streambuf_type = compression_encoder_streambuf<CharT, Traits>;

    basic_compression_encoder_stream(compression_encoder_properties_interface& properties,
                                     std::basic_ostream<CharT, Traits>& stream,
                                     std::shared_ptr<compression_encoder_interface_basic<CharT, Traits>> encoder)
        : std::basic_ostream<CharT, Traits>(nullptr), buffer(properties, stream, std::move(encoder))
    {
        this->init(&buffer);
    }

private:
    streambuf_type buffer;
};
