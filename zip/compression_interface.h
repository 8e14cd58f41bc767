#pragma once
// The slots through which the compression stream buffers drive every codec.
//
// Encoders: init() binds the output; the caller fills [get_buffer_begin, get_buffer_end)
// and calls encode_next(n). n equal to the block size is a full block with more to follow;
// anything shorter (0 included) is the last block and ends the compressed stream. Further
// encode_next(0) calls after the end write nothing. sync() finishes pending output.
//
// Decoders: init() binds the compressed input; each decode_next() reads input as needed and
// returns the count of bytes produced at get_buffer_begin; 0 means the data has ended.
//
// failed() reports a codec that could not do its work (its library refused to start, or
// reported an error), so that a stream buffer can turn it into a failed stream instead of
// letting incomplete output pass as success; library_result() gives the library's own code
// for it, so that a caller can say why.
//
// A codec gives its working memory (buffers, library state) back as soon as its stream has
// ended or failed: an encoder after its last block, a decoder when it reports the end. An
// entry keeps its method, and so its codecs, for its whole life; what stays is only the
// counters, failed() and library_result(), which callers read after the end. The buffer
// accessors give null from then on. A new init starts over.
#include "zip/compression_properties.h"

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>

template <class CharT, class Traits = std::char_traits<CharT>>
class compression_interface_basic
{
public:
    using char_type = CharT;
    using traits_type = Traits;

    virtual ~compression_interface_basic() = default;
    virtual bool is_initialized() const = 0;
    virtual size_t get_bytes_read() const = 0;
    virtual size_t get_bytes_written() const = 0;
    virtual CharT* get_buffer_begin() = 0;
    virtual CharT* get_buffer_end() = 0;
    virtual bool failed() const { return false; }
    // The compression library's own return code for the failure that failed() reports (a zlib,
    // bzip2 or LZMA SDK result); 0 when none is known.
    virtual int library_result() const { return 0; }
};

template <class CharT, class Traits = std::char_traits<CharT>>
class compression_encoder_interface_basic : public compression_interface_basic<CharT, Traits>
{
public:
    using ostream_type = std::basic_ostream<CharT, Traits>;

    virtual void init(ostream_type& stream, compression_encoder_properties_interface& properties) = 0;
    virtual void init_with_defaults(ostream_type& stream) = 0;
    virtual void encode_next(size_t length) = 0;
    virtual void sync() = 0;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class compression_decoder_interface_basic : public compression_interface_basic<CharT, Traits>
{
public:
    using istream_type = std::basic_istream<CharT, Traits>;

    virtual void init(istream_type& stream, compression_decoder_properties_interface& properties) = 0;
    virtual void init_with_defaults(istream_type& stream) = 0;
    virtual size_t decode_next() = 0;
};

using compression_encoder_interface = compression_encoder_interface_basic<char>;
using compression_decoder_interface = compression_decoder_interface_basic<char>;
