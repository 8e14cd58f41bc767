#pragma once
// The deflate method's codec over zlib, in raw mode: ZIP stores deflate data without the
// zlib header and Adler-32 trailer.
#include "zip/compression_interface.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <istream>
#include <memory>
#include <ostream>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_deflate_encoder : public compression_encoder_interface_basic<CharT, Traits>
{
public:
    using ostream_type = typename compression_encoder_interface_basic<CharT, Traits>::ostream_type;

    basic_deflate_encoder() { reset_zstream(); }
    basic_deflate_encoder(const basic_deflate_encoder&) = delete;
    basic_deflate_encoder& operator=(const basic_deflate_encoder&) = delete;

    ~basic_deflate_encoder() override { end_zstream(); }

    bool is_initialized() const override { return stream != nullptr; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    CharT* get_buffer_begin() override { return in_buffer.get(); }
    CharT* get_buffer_end() override { return in_buffer ? in_buffer.get() + capacity : nullptr; }
    bool failed() const override { return has_failed; }

    void init(ostream_type& output, compression_encoder_properties_interface& properties) override
    {
        auto& props = static_cast<deflate_encoder_properties&>(properties);
        stream = &output;
        bytes_read = 0;
        bytes_written = 0;
        has_failed = false;
        finished = false;
        // zlib counts in unsigned int; a block must hold at least one byte.
        capacity = std::clamp<size_t>(props.BufferCapacity, 1, UINT_MAX);

        end_zstream();
        in_buffer.reset();
        out_buffer.reset();
        in_buffer.reset(new CharT[capacity]);
        out_buffer.reset(new CharT[capacity]);

        reset_zstream();
        zstream_ready = deflateInit2(&zs, props.CompressionLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        // Without a working zlib state the output would be empty yet look complete.
        has_failed = !zstream_ready;
    }

    void init_with_defaults(ostream_type& output) override
    {
        deflate_encoder_properties defaults;
        this->init(output, defaults);
    }

    void encode_next(size_t length) override
    {
        if (!stream || !zstream_ready || finished || has_failed)
            return;
        length = std::min(length, capacity);
        bytes_read += length;
        const int flush = length < capacity ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = reinterpret_cast<Bytef*>(in_buffer.get());
        zs.avail_in = static_cast<uInt>(length);
        for (;;)
        {
            zs.next_out = reinterpret_cast<Bytef*>(out_buffer.get());
            zs.avail_out = static_cast<uInt>(capacity);
            const uInt in_before = zs.avail_in;
            const int result = deflate(&zs, flush);
            const size_t produced = capacity - zs.avail_out;
            if (produced != 0)
            {
                stream->write(out_buffer.get(), static_cast<std::streamsize>(produced));
                bytes_written += produced;
            }
            if (result == Z_STREAM_END)
            {
                finished = true;
                break;
            }
            if (flush == Z_NO_FLUSH)
            {
                // Z_BUF_ERROR only says nothing was pending after a full output buffer.
                if (result != Z_OK && result != Z_BUF_ERROR)
                {
                    has_failed = true;
                    break;
                }
                // zlib stops early only when the output buffer is full; else it took all input.
                if (zs.avail_out != 0 || result == Z_BUF_ERROR)
                    break;
            }
            else if (result != Z_OK || (produced == 0 && zs.avail_in == in_before))
            {
                // An error, or a finish that cannot progress: the stream would stay unfinished.
                has_failed = true;
                break;
            }
        }
    }

    void sync() override {}

private:
    void reset_zstream()
    {
        zs = z_stream{};
        zs.zalloc = Z_NULL;
        zs.zfree = Z_NULL;
        zs.opaque = Z_NULL;
    }

    void end_zstream()
    {
        if (zstream_ready)
            deflateEnd(&zs);
        zstream_ready = false;
    }

    z_stream zs;
    bool zstream_ready = false;
    ostream_type* stream = nullptr;
    size_t capacity = 0;
    std::unique_ptr<CharT[]> in_buffer;
    std::unique_ptr<CharT[]> out_buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
    bool finished = false;   // the final block is written; later blocks are dropped
    bool has_failed = false; // zlib refused to start or reported an error
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_deflate_decoder : public compression_decoder_interface_basic<CharT, Traits>
{
public:
    using istream_type = typename compression_decoder_interface_basic<CharT, Traits>::istream_type;

    basic_deflate_decoder() { reset_zstream(); }
    basic_deflate_decoder(const basic_deflate_decoder&) = delete;
    basic_deflate_decoder& operator=(const basic_deflate_decoder&) = delete;

    ~basic_deflate_decoder() override { end_zstream(); }

    bool is_initialized() const override { return in_buffer && out_buffer; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    CharT* get_buffer_begin() override { return out_buffer.get(); }
    CharT* get_buffer_end() override { return out_buffer ? out_buffer.get() + last_count : nullptr; }
    bool failed() const override { return has_failed; }

    void init(istream_type& input, compression_decoder_properties_interface& properties) override
    {
        auto& props = static_cast<deflate_decoder_properties&>(properties);
        stream = &input;
        input_exhausted = false;
        ended = true; // until zlib is ready
        output_full = false;
        has_failed = false;
        last_count = 0;
        bytes_read = 0;
        bytes_written = 0;
        capacity = std::clamp<size_t>(props.BufferCapacity, 1, UINT_MAX);

        end_zstream();
        in_buffer.reset();
        out_buffer.reset();
        in_buffer.reset(new CharT[capacity]);
        out_buffer.reset(new CharT[capacity]);

        reset_zstream();
        zstream_ready = inflateInit2(&zs, -15) == Z_OK;
        ended = !zstream_ready;
        has_failed = !zstream_ready;
    }

    void init_with_defaults(istream_type& input) override
    {
        deflate_decoder_properties defaults;
        this->init(input, defaults);
    }

    size_t decode_next() override
    {
        last_count = 0;
        for (;;)
        {
            if (ended)
                return 0;
            // A previous call that filled the output buffer may have left output inside
            // zlib: inflate again before reading more.
            if (!output_full && zs.avail_in == 0)
            {
                if (input_exhausted)
                {
                    // The input ended before the deflate data did: truncated.
                    has_failed = true;
                    ended = true;
                    return 0;
                }
                refill();
            }

            zs.next_out = reinterpret_cast<Bytef*>(out_buffer.get());
            zs.avail_out = static_cast<uInt>(capacity);
            const uInt in_before = zs.avail_in;
            const int result = inflate(&zs, Z_NO_FLUSH);
            if (result < 0 && result != Z_BUF_ERROR)
            {
                has_failed = true;
                ended = true;
                return 0;
            }
            const size_t produced = capacity - zs.avail_out;
            bytes_written += produced;
            output_full = zs.avail_out == 0;

            if (result == Z_STREAM_END)
            {
                ended = true;
                give_back_unused_input();
            }
            else if (produced == 0 && zs.avail_in != 0 && zs.avail_in == in_before)
            {
                // Input and output room, yet no progress: never spin on such data.
                has_failed = true;
                ended = true;
            }
            last_count = produced;
            if (produced != 0)
                return produced;
        }
    }

private:
    void refill()
    {
        stream->read(in_buffer.get(), static_cast<std::streamsize>(capacity));
        const auto n = stream->gcount();
        const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
        bytes_read += count;
        zs.next_in = reinterpret_cast<Bytef*>(in_buffer.get());
        zs.avail_in = static_cast<uInt>(count);
        if (count != capacity)
            input_exhausted = true;
    }

    // The last read may have taken bytes that follow the deflate data; put the input stream
    // back on the first of them. Done exactly once, when the end is first seen.
    void give_back_unused_input()
    {
        if (zs.avail_in == 0)
            return;
        const auto unused = static_cast<typename Traits::off_type>(zs.avail_in);
        zs.avail_in = 0;
        stream->clear();
        stream->seekg(-unused, std::ios_base::cur);
    }

    void reset_zstream()
    {
        zs = z_stream{};
        zs.zalloc = Z_NULL;
        zs.zfree = Z_NULL;
        zs.opaque = Z_NULL;
        zs.next_in = Z_NULL;
        zs.avail_in = 0;
    }

    void end_zstream()
    {
        if (zstream_ready)
            inflateEnd(&zs);
        zstream_ready = false;
    }

    z_stream zs;
    bool zstream_ready = false;
    istream_type* stream = nullptr;
    bool input_exhausted = false; // the input stream has given its last bytes
    bool ended = true;            // no more data: the deflate data ended, or an error
    bool output_full = false;     // the last inflate filled the output buffer
    size_t capacity = 0;
    size_t last_count = 0;
    std::unique_ptr<CharT[]> in_buffer;
    std::unique_ptr<CharT[]> out_buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
    bool has_failed = false; // zlib refused to start, the data is damaged or cut short
};
