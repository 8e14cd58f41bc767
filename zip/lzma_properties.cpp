#include "zip/compression_properties.h"

#include <LzmaEnc.h>

// The LZMA SDK decides what a valid setting is; only the level and the thread choice are ours.
void lzma_encoder_properties::normalize()
{
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = CompressionLevel;
    props.numThreads = IsMultithreaded ? 2 : 1;
    LzmaEncProps_Normalize(&props);
    CompressionLevel = props.level;
    IsMultithreaded = props.numThreads != 1;
}
