#pragma once
// ZIP method 14 (LZMA), decoding side, over the LZMA SDK's decoder.
//
// init reads the 9-byte ZIP framing (version, property-block size, 5 property bytes); each
// decode_next decodes into the SDK's dictionary, used as a ring, and copies the new bytes to
// the output buffer. The dictionary starts small and grows with the data decoded, up to the
// size the header declares, so a forged header cannot claim gigabytes up front. The data ends
// at the stream's end marker or, without one, where the encoder ended its range coder, at the
// end of the compressed input. Bad properties, a short header or corrupt data end the data
// (early), never more.
#include "zip/compression_interface.h"

#include <cstddef>
#include <memory>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_lzma_decoder : public compression_decoder_interface_basic<CharT, Traits>
{
public:
    using istream_type = typename compression_decoder_interface_basic<CharT, Traits>::istream_type;

    basic_lzma_decoder();
    ~basic_lzma_decoder() override;
    basic_lzma_decoder(const basic_lzma_decoder&) = delete;
    basic_lzma_decoder& operator=(const basic_lzma_decoder&) = delete;

    bool is_initialized() const override;
    size_t get_bytes_read() const override;
    size_t get_bytes_written() const override;
    CharT* get_buffer_begin() override;
    CharT* get_buffer_end() override;
    // True when the header could not be used or the data turned out corrupt.
    bool failed() const override;

    void init(istream_type& stream, compression_decoder_properties_interface& properties) override;
    void init_with_defaults(istream_type& stream) override;
    size_t decode_next() override;

    // Bytes held for the dictionary now (0 before any); never more than the header declares.
    size_t get_dictionary_size() const;

private:
    struct sdk_state; // the SDK's decoder state and allocator

    void refill();
    bool at_clean_end() const;
    bool grow_dictionary();

    std::unique_ptr<sdk_state> sdk;
    istream_type* source = nullptr;
    size_t capacity = 0;
    size_t input_position = 0;
    size_t input_held = 0;
    size_t last_count = 0;
    std::unique_ptr<unsigned char[]> input_buffer;
    std::unique_ptr<CharT[]> output_buffer;
    size_t bytes_read = 0;
    size_t bytes_produced = 0;
    bool ready = false;      // the SDK state matches the current header
    bool input_final = false; // the input buffer holds the source's last bytes
    bool data_ended = false;  // end marker, end of input or an error was met
    bool data_error = false;
};

extern template class basic_lzma_decoder<char>;
using lzma_decoder = basic_lzma_decoder<char>;
