#pragma once
// The bzip2 method's codec over libbzip2's stream interface.
#include "zip/compression_interface.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <istream>
#include <memory>
#include <ostream>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_bzip2_encoder : public compression_encoder_interface_basic<CharT, Traits>
{
public:
    using ostream_type = typename compression_encoder_interface_basic<CharT, Traits>::ostream_type;

    basic_bzip2_encoder() { bs = bz_stream{}; }
    basic_bzip2_encoder(const basic_bzip2_encoder&) = delete;
    basic_bzip2_encoder& operator=(const basic_bzip2_encoder&) = delete;

    ~basic_bzip2_encoder() override { end_bzstream(); }

    bool is_initialized() const override { return stream != nullptr; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    CharT* get_buffer_begin() override { return in_buffer.get(); }
    CharT* get_buffer_end() override { return in_buffer ? in_buffer.get() + capacity : nullptr; }
    bool failed() const override { return has_failed; }

    void init(ostream_type& output, compression_encoder_properties_interface& properties) override
    {
        auto& props = static_cast<bzip2_encoder_properties&>(properties);
        stream = &output;
        bytes_read = 0;
        bytes_written = 0;
        finished = false;
        // libbzip2 counts in unsigned int; a block must hold at least one byte.
        capacity = std::clamp<size_t>(props.BufferCapacity, 1, UINT_MAX);

        end_bzstream();
        in_buffer.reset();
        out_buffer.reset();
        in_buffer.reset(new CharT[capacity]);
        out_buffer.reset(new CharT[capacity]);

        bs = bz_stream{};
        bzstream_ready = BZ2_bzCompressInit(&bs, props.BlockSize, 0, props.WorkFactor) == BZ_OK;
        // Without a working libbzip2 state the output would be empty yet look complete.
        has_failed = !bzstream_ready;
    }

    void init_with_defaults(ostream_type& output) override
    {
        bzip2_encoder_properties defaults;
        this->init(output, defaults);
    }

    void encode_next(size_t length) override
    {
        if (!stream || !bzstream_ready || finished || has_failed)
            return;
        length = std::min(length, capacity);
        bytes_read += length;
        const int action = length < capacity ? BZ_FINISH : BZ_RUN;
        bs.next_in = reinterpret_cast<char*>(in_buffer.get());
        bs.avail_in = static_cast<unsigned int>(length);
        for (;;)
        {
            bs.next_out = reinterpret_cast<char*>(out_buffer.get());
            bs.avail_out = static_cast<unsigned int>(capacity);
            const unsigned int in_before = bs.avail_in;
            const int result = BZ2_bzCompress(&bs, action);
            const size_t produced = capacity - bs.avail_out;
            if (produced != 0)
            {
                stream->write(out_buffer.get(), static_cast<std::streamsize>(produced));
                bytes_written += produced;
            }
            if (action == BZ_RUN)
            {
                // libbzip2 answers a call without progress (nothing was pending after a
                // full output buffer) with BZ_PARAM_ERROR.
                const bool idle = result == BZ_PARAM_ERROR && bs.avail_in == 0;
                if (result != BZ_RUN_OK && !idle)
                {
                    has_failed = true;
                    break;
                }
                // It stops early only when the output buffer is full; else it took all input.
                if (bs.avail_out != 0 || idle)
                    break;
            }
            else if (result == BZ_STREAM_END)
            {
                finished = true;
                break;
            }
            else if (result != BZ_FINISH_OK || (produced == 0 && bs.avail_in == in_before))
            {
                // An error, or a finish that cannot progress: the stream would stay unfinished.
                has_failed = true;
                break;
            }
        }
    }

    void sync() override {}

private:
    void end_bzstream()
    {
        if (bzstream_ready)
            BZ2_bzCompressEnd(&bs);
        bzstream_ready = false;
    }

    bz_stream bs;
    bool bzstream_ready = false;
    ostream_type* stream = nullptr;
    size_t capacity = 0;
    std::unique_ptr<CharT[]> in_buffer;
    std::unique_ptr<CharT[]> out_buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
    bool finished = false;   // the stream end is written; later blocks are dropped
    bool has_failed = false; // libbzip2 refused to start or reported an error
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_bzip2_decoder : public compression_decoder_interface_basic<CharT, Traits>
{
public:
    using istream_type = typename compression_decoder_interface_basic<CharT, Traits>::istream_type;

    basic_bzip2_decoder() { bs = bz_stream{}; }
    basic_bzip2_decoder(const basic_bzip2_decoder&) = delete;
    basic_bzip2_decoder& operator=(const basic_bzip2_decoder&) = delete;

    ~basic_bzip2_decoder() override { end_bzstream(); }

    bool is_initialized() const override { return in_buffer && out_buffer; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    CharT* get_buffer_begin() override { return out_buffer.get(); }
    CharT* get_buffer_end() override { return out_buffer ? out_buffer.get() + last_count : nullptr; }
    bool failed() const override { return has_failed; }

    void init(istream_type& input, compression_decoder_properties_interface& properties) override
    {
        auto& props = static_cast<bzip2_decoder_properties&>(properties);
        stream = &input;
        input_exhausted = false;
        output_full = false;
        last_count = 0;
        bytes_read = 0;
        bytes_written = 0;
        capacity = std::clamp<size_t>(props.BufferCapacity, 1, UINT_MAX);

        end_bzstream();
        in_buffer.reset();
        out_buffer.reset();
        in_buffer.reset(new CharT[capacity]);
        out_buffer.reset(new CharT[capacity]);

        bs = bz_stream{};
        bzstream_ready = BZ2_bzDecompressInit(&bs, 0, 0) == BZ_OK;
        ended = !bzstream_ready;
        has_failed = !bzstream_ready;
    }

    void init_with_defaults(istream_type& input) override
    {
        bzip2_decoder_properties defaults;
        this->init(input, defaults);
    }

    // libbzip2 gives nothing until it holds a whole block, so one call may read many times.
    size_t decode_next() override
    {
        last_count = 0;
        for (;;)
        {
            if (ended)
                return 0;
            // A previous call that filled the output buffer may have left output inside
            // libbzip2: decompress again before reading more.
            if (!output_full && bs.avail_in == 0)
            {
                if (input_exhausted)
                {
                    // The input ended before the bzip2 stream did: truncated.
                    has_failed = true;
                    ended = true;
                    return 0;
                }
                refill();
            }

            bs.next_out = reinterpret_cast<char*>(out_buffer.get());
            bs.avail_out = static_cast<unsigned int>(capacity);
            const unsigned int in_before = bs.avail_in;
            const int result = BZ2_bzDecompress(&bs);
            if (result < 0)
            {
                has_failed = true;
                ended = true;
                return 0;
            }
            const size_t produced = capacity - bs.avail_out;
            bytes_written += produced;
            output_full = bs.avail_out == 0;

            if (result == BZ_STREAM_END)
            {
                ended = true;
                give_back_unused_input();
            }
            else if (produced == 0 && bs.avail_in != 0 && bs.avail_in == in_before)
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
        bs.next_in = reinterpret_cast<char*>(in_buffer.get());
        bs.avail_in = static_cast<unsigned int>(count);
        if (count != capacity)
            input_exhausted = true;
    }

    // The last read may have taken bytes that follow the bzip2 stream; put the input stream
    // back on the first of them. Done exactly once, when the end is first seen.
    void give_back_unused_input()
    {
        if (bs.avail_in == 0)
            return;
        const auto unused = static_cast<typename Traits::off_type>(bs.avail_in);
        bs.avail_in = 0;
        stream->clear();
        stream->seekg(-unused, std::ios_base::cur);
    }

    void end_bzstream()
    {
        if (bzstream_ready)
            BZ2_bzDecompressEnd(&bs);
        bzstream_ready = false;
    }

    bz_stream bs;
    bool bzstream_ready = false;
    istream_type* stream = nullptr;
    bool input_exhausted = false; // the input stream has given its last bytes
    bool ended = true;            // no more data: the bzip2 stream ended, or an error
    bool output_full = false;     // the last call filled the output buffer
    size_t capacity = 0;
    size_t last_count = 0;
    std::unique_ptr<CharT[]> in_buffer;
    std::unique_ptr<CharT[]> out_buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
    bool has_failed = false; // libbzip2 refused to start, the data is damaged or cut short
};
