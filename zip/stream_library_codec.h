#pragma once
// Encoder and decoder over a streaming compression library whose state is driven like zlib's:
// next_in/avail_in and next_out/avail_out, one process call per step. The deflate and bzip2
// codecs are these two templates with a library adapter, which supplies:
//
//   stream_type                                  the library's stream state
//   encoder_properties, decoder_properties       the codec's properties structures
//   int ok                                       the result of an init that succeeded
//   int truncated                                the result that stands for a stream that cannot
//                                                go on: compressed data cut short (the library is
//                                                never asked, there is no input), or a call that
//                                                made no progress yet answered with success
//   int encoder_init(stream_type&, const encoder_properties&)    the library's result
//   library_outcome encode(stream_type&, bool finish)
//   void encoder_end(stream_type&)
//   int decoder_init(stream_type&)                               the library's result
//   library_outcome decode(stream_type&)
//   void decoder_end(stream_type&)
//
// Both codecs give their working memory (the library state and their buffers) back as soon as
// their stream has ended or failed; the counters, failed() and library_result() stay. A new
// init starts over with fresh memory.
#include "zip/compression_interface.h"

#include <algorithm>
#include <cstddef>
#include <istream>
#include <limits>
#include <memory>
#include <ostream>

// What a library call's result code means to the codec.
enum class library_step
{
    ok,          // went on; output may be pending
    stream_end,  // the compressed stream is complete
    no_progress, // nothing to do with the input and output room given; not damage by itself
    error,
};

struct library_outcome
{
    library_step step;
    int result; // the library's own return code
};

template <class Stream>
size_t clamp_library_capacity(size_t capacity)
{
    // The library counts in its own (unsigned int) type; a block must hold at least one byte.
    using count_type = decltype(Stream::avail_in);
    return std::clamp<size_t>(capacity, 1, std::numeric_limits<count_type>::max());
}

template <class CharT, class Traits, class Library>
class basic_stream_library_encoder : public compression_encoder_interface_basic<CharT, Traits>
{
public:
    using ostream_type = typename compression_encoder_interface_basic<CharT, Traits>::ostream_type;

    basic_stream_library_encoder() = default;
    basic_stream_library_encoder(const basic_stream_library_encoder&) = delete;
    basic_stream_library_encoder& operator=(const basic_stream_library_encoder&) = delete;

    ~basic_stream_library_encoder() override { release_working_memory(); }

    bool is_initialized() const override { return stream != nullptr; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    // Null once the stream has ended or failed: there is no block to fill any more.
    CharT* get_buffer_begin() override { return in_buffer.get(); }
    CharT* get_buffer_end() override { return in_buffer ? in_buffer.get() + capacity : nullptr; }
    bool failed() const override { return has_failed; }
    int library_result() const override { return result; }
    // Whether the library state or the buffers are still held.
    bool holds_working_memory() const { return library_ready || in_buffer || out_buffer; }

    void init(ostream_type& output, compression_encoder_properties_interface& properties) override
    {
        auto& props = static_cast<typename Library::encoder_properties&>(properties);
        stream = &output;
        bytes_read = 0;
        bytes_written = 0;
        has_failed = false;
        result = 0;
        finished = false;
        capacity = clamp_library_capacity<stream_type>(props.BufferCapacity);

        release_working_memory();
        in_buffer.reset(new CharT[capacity]);
        out_buffer.reset(new CharT[capacity]);

        state = stream_type{};
        const int started = Library::encoder_init(state, props);
        library_ready = started == Library::ok;
        if (!library_ready)
        {
            // Without a working library state the output would be empty yet look complete.
            fail(started);
        }
    }

    void init_with_defaults(ostream_type& output) override
    {
        typename Library::encoder_properties defaults;
        this->init(output, defaults);
    }

    void encode_next(size_t length) override
    {
        // After the end the library would refuse a second finish (or repeat its end): the
        // caller may hand over the rest again, and it must write nothing.
        if (!stream || !library_ready || finished || has_failed)
            return;
        length = std::min(length, capacity);
        bytes_read += length;
        const bool finish = length < capacity;
        state.next_in = reinterpret_cast<decltype(state.next_in)>(in_buffer.get());
        state.avail_in = static_cast<count_type>(length);
        for (;;)
        {
            state.next_out = reinterpret_cast<decltype(state.next_out)>(out_buffer.get());
            state.avail_out = static_cast<count_type>(capacity);
            const count_type in_before = state.avail_in;
            const library_outcome outcome = Library::encode(state, finish);
            const library_step step = outcome.step;
            const size_t produced = capacity - state.avail_out;
            if (produced != 0)
            {
                stream->write(out_buffer.get(), static_cast<std::streamsize>(produced));
                bytes_written += produced;
            }
            if (step == library_step::stream_end)
            {
                // Every byte is out: nothing of the library or the buffers is needed again.
                finished = true;
                release_working_memory();
                break;
            }
            if (!finish)
            {
                if (step == library_step::error)
                {
                    fail(outcome.result);
                    break;
                }
                // The library stops early only when the output buffer is full; else it took
                // all input. No progress after a full buffer only says nothing was pending.
                if (state.avail_out != 0 || step == library_step::no_progress)
                    break;
            }
            else if (step != library_step::ok || (produced == 0 && state.avail_in == in_before))
            {
                // An error, or a finish that cannot progress: the stream would stay unfinished.
                fail(outcome.result);
                break;
            }
        }
    }

    void sync() override {}

private:
    using stream_type = typename Library::stream_type;
    using count_type = decltype(stream_type::avail_in);

    void fail(int code)
    {
        has_failed = true;
        // A failure always comes with a cause a caller can tell from success.
        result = code != Library::ok ? code : Library::truncated;
        release_working_memory();
    }

    void release_working_memory()
    {
        if (library_ready)
            Library::encoder_end(state);
        library_ready = false;
        state = stream_type{};
        in_buffer.reset();
        out_buffer.reset();
    }

    stream_type state{};
    bool library_ready = false;
    ostream_type* stream = nullptr; // kept for is_initialized; not used once the stream has ended
    size_t capacity = 0;
    std::unique_ptr<CharT[]> in_buffer;
    std::unique_ptr<CharT[]> out_buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
    bool finished = false;   // the stream end is written; later blocks are dropped
    bool has_failed = false; // the library refused to start or reported an error
    int result = 0;          // the library's result for that failure
};

template <class CharT, class Traits, class Library>
class basic_stream_library_decoder : public compression_decoder_interface_basic<CharT, Traits>
{
public:
    using istream_type = typename compression_decoder_interface_basic<CharT, Traits>::istream_type;

    basic_stream_library_decoder() = default;
    basic_stream_library_decoder(const basic_stream_library_decoder&) = delete;
    basic_stream_library_decoder& operator=(const basic_stream_library_decoder&) = delete;

    ~basic_stream_library_decoder() override { release_working_memory(); }

    // Bound by init; stays true once the data has ended and the buffers are given back.
    bool is_initialized() const override { return stream != nullptr; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    CharT* get_buffer_begin() override { return out_buffer.get(); }
    CharT* get_buffer_end() override { return out_buffer ? out_buffer.get() + last_count : nullptr; }
    bool failed() const override { return has_failed; }
    int library_result() const override { return result; }
    // Whether the library state or the buffers are still held.
    bool holds_working_memory() const { return library_ready || in_buffer || out_buffer; }

    void init(istream_type& input, compression_decoder_properties_interface& properties) override
    {
        auto& props = static_cast<typename Library::decoder_properties&>(properties);
        stream = &input;
        input_exhausted = false;
        ended = true; // until the library is ready
        output_full = false;
        has_failed = false;
        result = 0;
        last_count = 0;
        bytes_read = 0;
        bytes_written = 0;
        capacity = clamp_library_capacity<stream_type>(props.BufferCapacity);

        release_working_memory();
        in_buffer.reset(new CharT[capacity]);
        out_buffer.reset(new CharT[capacity]);

        state = stream_type{};
        const int started = Library::decoder_init(state);
        library_ready = started == Library::ok;
        ended = !library_ready;
        if (!library_ready)
            fail(started);
    }

    void init_with_defaults(istream_type& input) override
    {
        typename Library::decoder_properties defaults;
        this->init(input, defaults);
    }

    // A library may give nothing until it holds a whole block, so one call may read many times.
    size_t decode_next() override
    {
        last_count = 0;
        for (;;)
        {
            if (ended)
            {
                // The caller is done with the last piece handed out: the output buffer goes too.
                release_working_memory();
                return 0;
            }
            // A previous call that filled the output buffer may have left output inside the
            // library: process again before reading more.
            if (!output_full && state.avail_in == 0)
            {
                if (input_exhausted)
                {
                    // The input ended before the compressed stream did: truncated.
                    fail(Library::truncated);
                    return 0;
                }
                refill();
            }

            state.next_out = reinterpret_cast<decltype(state.next_out)>(out_buffer.get());
            state.avail_out = static_cast<count_type>(capacity);
            const count_type in_before = state.avail_in;
            const library_outcome outcome = Library::decode(state);
            if (outcome.step == library_step::error)
            {
                fail(outcome.result);
                return 0;
            }
            const size_t produced = capacity - state.avail_out;
            bytes_written += produced;
            output_full = state.avail_out == 0;

            if (outcome.step == library_step::stream_end)
            {
                ended = true;
                give_back_unused_input();
                // The library is done; only the output buffer still holds data for the caller.
                end_library();
                in_buffer.reset();
            }
            else if (produced == 0 && state.avail_in != 0 && state.avail_in == in_before)
            {
                // Input and output room, yet no progress: never spin on such data.
                fail(outcome.result);
                return 0;
            }
            last_count = produced;
            if (produced != 0)
                return produced;
        }
    }

private:
    using stream_type = typename Library::stream_type;
    using count_type = decltype(stream_type::avail_in);

    void refill()
    {
        stream->read(in_buffer.get(), static_cast<std::streamsize>(capacity));
        const auto n = stream->gcount();
        const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
        bytes_read += count;
        state.next_in = reinterpret_cast<decltype(state.next_in)>(in_buffer.get());
        state.avail_in = static_cast<count_type>(count);
        if (count != capacity)
            input_exhausted = true;
    }

    // The last read may have taken bytes that follow the compressed stream; put the input
    // stream back on the first of them. Done exactly once, when the end is first seen.
    void give_back_unused_input()
    {
        if (state.avail_in == 0)
            return;
        const auto unused = static_cast<typename Traits::off_type>(state.avail_in);
        state.avail_in = 0;
        stream->clear();
        stream->seekg(-unused, std::ios_base::cur);
    }

    // Ends the data for a reason the library (or the missing input) gave.
    void fail(int code)
    {
        has_failed = true;
        // A failure always comes with a cause a caller can tell from success.
        result = code != Library::ok ? code : Library::truncated;
        ended = true;
        last_count = 0;
        release_working_memory();
    }

    void end_library()
    {
        if (library_ready)
            Library::decoder_end(state);
        library_ready = false;
        state = stream_type{};
    }

    void release_working_memory()
    {
        end_library();
        in_buffer.reset();
        out_buffer.reset();
    }

    stream_type state{};
    bool library_ready = false;
    istream_type* stream = nullptr; // kept for is_initialized; not read once the data has ended
    bool input_exhausted = false; // the input stream has given its last bytes
    bool ended = true;            // no more data: the compressed stream ended, or an error
    bool output_full = false;     // the last call filled the output buffer
    size_t capacity = 0;
    size_t last_count = 0;
    std::unique_ptr<CharT[]> in_buffer;
    std::unique_ptr<CharT[]> out_buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
    bool has_failed = false; // the library refused to start, the data is damaged or cut short
    int result = 0;          // the library's result for that failure
};
