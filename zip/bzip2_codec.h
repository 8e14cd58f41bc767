#pragma once
// The bzip2 method's codec over libbzip2's stream interface. library_result() gives
// libbzip2's own result code (BZ_DATA_ERROR, BZ_DATA_ERROR_MAGIC, BZ_MEM_ERROR,
// BZ_PARAM_ERROR ...); compressed data that end too early (or a stream that stalls) give
// BZ_UNEXPECTED_EOF, the code libbzip2's file interface has for data cut short.
#include "zip/stream_library_codec.h"

#include <bzlib.h>

struct bzip2_library
{
    using stream_type = bz_stream;
    using encoder_properties = bzip2_encoder_properties;
    using decoder_properties = bzip2_decoder_properties;

    static constexpr int ok = BZ_OK;
    static constexpr int truncated = BZ_UNEXPECTED_EOF;

    // The allocator is left to libbzip2; verbosity 0.
    static int encoder_init(bz_stream& bs, const bzip2_encoder_properties& props)
    {
        return BZ2_bzCompressInit(&bs, props.BlockSize, 0, props.WorkFactor);
    }

    static library_outcome encode(bz_stream& bs, bool finish)
    {
        const int result = BZ2_bzCompress(&bs, finish ? BZ_FINISH : BZ_RUN);
        if (result == (finish ? BZ_FINISH_OK : BZ_RUN_OK))
            return {library_step::ok, result};
        if (finish && result == BZ_STREAM_END)
            return {library_step::stream_end, result};
        // libbzip2 answers a call without progress (nothing was pending after a full output
        // buffer) with BZ_PARAM_ERROR.
        if (result == BZ_PARAM_ERROR && bs.avail_in == 0)
            return {library_step::no_progress, result};
        return {library_step::error, result};
    }

    static void encoder_end(bz_stream& bs) { BZ2_bzCompressEnd(&bs); }

    static int decoder_init(bz_stream& bs) { return BZ2_bzDecompressInit(&bs, 0, 0); }

    static library_outcome decode(bz_stream& bs)
    {
        const int result = BZ2_bzDecompress(&bs);
        if (result == BZ_STREAM_END)
            return {library_step::stream_end, result};
        return {result < 0 ? library_step::error : library_step::ok, result};
    }

    static void decoder_end(bz_stream& bs) { BZ2_bzDecompressEnd(&bs); }
};

template <class CharT, class Traits = std::char_traits<CharT>>
using basic_bzip2_encoder = basic_stream_library_encoder<CharT, Traits, bzip2_library>;

template <class CharT, class Traits = std::char_traits<CharT>>
using basic_bzip2_decoder = basic_stream_library_decoder<CharT, Traits, bzip2_library>;
