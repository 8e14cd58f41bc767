#pragma once
// The deflate method's codec over zlib, in raw mode: ZIP stores deflate data without the
// zlib header and Adler-32 trailer. library_result() gives zlib's own result code (Z_DATA_ERROR,
// Z_MEM_ERROR, Z_STREAM_ERROR ...); compressed data that end too early (or a stream that stalls)
// give Z_BUF_ERROR, the answer zlib has when it cannot go on with what it was given.
#include "zip/stream_library_codec.h"

#include <zlib.h>

struct raw_deflate_library
{
    using stream_type = z_stream;
    using encoder_properties = deflate_encoder_properties;
    using decoder_properties = deflate_decoder_properties;

    static constexpr int ok = Z_OK;
    static constexpr int truncated = Z_BUF_ERROR;

    // Window bits -15: raw deflate with a 32 KB window. The allocator is left to zlib.
    static int encoder_init(z_stream& zs, const deflate_encoder_properties& props)
    {
        return deflateInit2(&zs, props.CompressionLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    }

    static library_outcome encode(z_stream& zs, bool finish)
    {
        const int result = deflate(&zs, finish ? Z_FINISH : Z_NO_FLUSH);
        switch (result)
        {
        case Z_OK:
            return {library_step::ok, result};
        case Z_STREAM_END:
            return {library_step::stream_end, result};
        case Z_BUF_ERROR:
            return {library_step::no_progress, result};
        default:
            return {library_step::error, result};
        }
    }

    static void encoder_end(z_stream& zs) { deflateEnd(&zs); }

    static int decoder_init(z_stream& zs) { return inflateInit2(&zs, -15); }

    static library_outcome decode(z_stream& zs)
    {
        const int result = inflate(&zs, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            return {library_step::stream_end, result};
        if (result == Z_BUF_ERROR)
            return {library_step::no_progress, result};
        return {result < 0 ? library_step::error : library_step::ok, result};
    }

    static void decoder_end(z_stream& zs) { inflateEnd(&zs); }
};

template <class CharT, class Traits = std::char_traits<CharT>>
using basic_deflate_encoder = basic_stream_library_encoder<CharT, Traits, raw_deflate_library>;

template <class CharT, class Traits = std::char_traits<CharT>>
using basic_deflate_decoder = basic_stream_library_decoder<CharT, Traits, raw_deflate_library>;
