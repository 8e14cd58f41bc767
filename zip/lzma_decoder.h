#pragma once
// ZIP method 14 (LZMA), decoding side, over the LZMA SDK's decoder.
//
// init reads the 9-byte ZIP framing (version, property-block size, 5 property bytes); each
// decode_next decodes into the SDK's dictionary, used as a ring, and copies the new bytes to
// the output buffer. The dictionary starts small and grows with the data decoded, up to the
// size the header declares, so a forged header cannot claim gigabytes up front. The data ends
// at the stream's end marker or, without one, once the compressed input is used up. Bad
// properties, a short header or corrupt data end the data (early), never more.
//
// Without end marker the end is ambiguous: where the encoder's last symbols leave the range
// coder room, the decoder can go on decoding symbols (zero bytes) that need no further input,
// and data with or without such trailing zeros may be encoded as the very same bytes. So a
// decoder that knows no size decodes everything the input allows, which is never less than
// what was encoded; a caller that knows the size (an archive entry) gives it with
// set_expected_size, and the data then end there when the stream does.
//
// Once the data have ended the dictionary and the probabilities are given back at once.
#include "zip/compression_interface.h"

#include <cstddef>
#include <cstdint>
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
    // The LZMA SDK's result for that failure: SZ_ERROR_UNSUPPORTED for refused properties,
    // SZ_ERROR_INPUT_EOF for a cut header, SZ_ERROR_MEM when the dictionary cannot be had,
    // SZ_ERROR_DATA for corrupt data; 0 when nothing failed.
    int library_result() const override { return result_code; }

    void init(istream_type& stream, compression_decoder_properties_interface& properties) override;
    void init_with_defaults(istream_type& stream) override;
    size_t decode_next() override;

    // The size the data are declared to have, given after init: decoding stops there when the
    // stream ends there (end marker, or input used up with the range coder at its final
    // state); otherwise the data go on past it, so that a caller sees they are longer.
    void set_expected_size(uint64_t size);

    // Bytes held for the dictionary now: 0 before any stream and once the data have ended;
    // never more than the header declares.
    size_t get_dictionary_size() const;
    // The largest dictionary held for the current stream, also after its end.
    size_t get_peak_dictionary_size() const;
    // Whether dictionary or probabilities are held now.
    bool holds_working_memory() const;

private:
    struct sdk_state; // the SDK's decoder state and allocator

    void refill();
    bool grow_dictionary();
    bool ends_here() const;
    void end_data(bool error);

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
    uint64_t stream_produced = 0; // bytes produced since init
    size_t peak_dictionary = 0;
    uint64_t expected_size = 0;
    bool size_expected = false; // expected_size is still to be reached and checked
    bool header_failed = false; // the header could not be read or used
    bool input_final = false;   // the input buffer holds the source's last bytes
    bool data_ended = true;     // end marker, end of input or an error was met (or no stream yet)
    bool data_error = false;
    int result_code = 0;
};

extern template class basic_lzma_decoder<char>;
using lzma_decoder = basic_lzma_decoder<char>;
