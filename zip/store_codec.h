#pragma once
// The stored method's codec: bytes pass unchanged, in blocks of the buffer capacity. Like
// every codec it gives its buffer back once its data has ended; the counters stay.
#include "zip/compression_interface.h"

#include <algorithm>
#include <cstddef>
#include <istream>
#include <memory>
#include <ostream>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_store_encoder : public compression_encoder_interface_basic<CharT, Traits>
{
public:
    using ostream_type = typename compression_encoder_interface_basic<CharT, Traits>::ostream_type;

    basic_store_encoder() = default;
    basic_store_encoder(const basic_store_encoder&) = delete;
    basic_store_encoder& operator=(const basic_store_encoder&) = delete;

    bool is_initialized() const override { return stream != nullptr; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    // Null once the last block has been written.
    CharT* get_buffer_begin() override { return buffer.get(); }
    CharT* get_buffer_end() override { return buffer ? buffer.get() + capacity : nullptr; }
    bool holds_working_memory() const { return buffer != nullptr; }

    void init(ostream_type& output, compression_encoder_properties_interface& properties) override
    {
        auto& props = static_cast<store_encoder_properties&>(properties);
        stream = &output;
        // A block must hold at least one byte, or a writer could never hand anything over.
        capacity = std::max<size_t>(props.BufferCapacity, 1);
        buffer.reset();
        buffer.reset(new CharT[capacity]);
        bytes_read = 0;
        bytes_written = 0;
    }

    void init_with_defaults(ostream_type& output) override
    {
        store_encoder_properties defaults;
        this->init(output, defaults);
    }

    void encode_next(size_t length) override
    {
        if (!stream || !buffer)
            return;
        length = std::min(length, capacity);
        stream->write(buffer.get(), static_cast<std::streamsize>(length));
        bytes_read += length;
        bytes_written += length;
        // A short block is the last one; hand-overs after it have nothing to write.
        if (length < capacity)
            buffer.reset();
    }

    void sync() override {}

private:
    ostream_type* stream = nullptr;
    size_t capacity = 0;
    std::unique_ptr<CharT[]> buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_store_decoder : public compression_decoder_interface_basic<CharT, Traits>
{
public:
    using istream_type = typename compression_decoder_interface_basic<CharT, Traits>::istream_type;

    basic_store_decoder() = default;
    basic_store_decoder(const basic_store_decoder&) = delete;
    basic_store_decoder& operator=(const basic_store_decoder&) = delete;

    // Bound by init; stays true once the data has ended and the buffer is given back.
    bool is_initialized() const override { return stream != nullptr; }
    size_t get_bytes_read() const override { return bytes_read; }
    size_t get_bytes_written() const override { return bytes_written; }
    CharT* get_buffer_begin() override { return buffer.get(); }
    CharT* get_buffer_end() override { return buffer ? buffer.get() + last_count : nullptr; }
    bool holds_working_memory() const { return buffer != nullptr; }

    void init(istream_type& input, compression_decoder_properties_interface& properties) override
    {
        auto& props = static_cast<store_decoder_properties&>(properties);
        stream = &input;
        last_count = 0;
        bytes_read = 0;
        bytes_written = 0;
        capacity = std::max<size_t>(props.BufferCapacity, 1);
        buffer.reset();
        buffer.reset(new CharT[capacity]);
    }

    void init_with_defaults(istream_type& input) override
    {
        store_decoder_properties defaults;
        this->init(input, defaults);
    }

    size_t decode_next() override
    {
        last_count = 0;
        if (!stream || !buffer)
            return 0;
        stream->read(buffer.get(), static_cast<std::streamsize>(capacity));
        const auto n = stream->gcount();
        last_count = n > 0 ? static_cast<size_t>(n) : 0;
        bytes_read += last_count;
        bytes_written += last_count;
        // The end of the data: nothing is left to hand out from the buffer.
        if (last_count == 0)
            buffer.reset();
        return last_count;
    }

private:
    istream_type* stream = nullptr;
    size_t capacity = 0;
    size_t last_count = 0;
    std::unique_ptr<CharT[]> buffer;
    size_t bytes_read = 0;
    size_t bytes_written = 0;
};
