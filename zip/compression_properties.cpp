#include "zip/compression_properties.h"

#include <algorithm>

// The ranges are those that zlib's deflateInit2 and libbzip2's BZ2_bzCompressInit accept,
// so normalised settings never make a codec refuse to start.

void deflate_encoder_properties::normalize()
{
    CompressionLevel = std::clamp<int32_t>(CompressionLevel, 0, 9);
}

void bzip2_encoder_properties::normalize()
{
    BlockSize = std::clamp<int32_t>(BlockSize, 1, 9);
    WorkFactor = std::clamp<int32_t>(WorkFactor, 0, 250);
}
