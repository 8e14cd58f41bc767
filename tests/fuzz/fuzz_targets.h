#pragma once
// Every fuzz target by name: the fuzzer programs pick theirs from this list, and the zip tests
// replay the seed corpus and the regression inputs of each (tests/fuzz/corpus/<name>/,
// tests/fuzz/regressions/<name>/).
#include "tests/fuzz/archive_roundtrip_fuzz.h"
#include "tests/fuzz/codec_roundtrip_fuzz.h"
#include "tests/fuzz/crypto_roundtrip_fuzz.h"
#include "tests/fuzz/zip_reader_fuzz.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

struct FuzzTarget
{
    const char* name;
    // False when a check failed; the check and the entry are then reported on stderr.
    bool (*run)(const uint8_t* data, size_t size);
};

inline const std::vector<FuzzTarget>& FuzzTargets()
{
    static const std::vector<FuzzTarget> targets = {
        {"zip_reader", ZipReaderOneInput},
        {"archive_roundtrip", ArchiveRoundTripOneInput},
        {"store_codec", StoreCodecOneInput},
        {"deflate_codec", DeflateCodecOneInput},
        {"bzip2_codec", Bzip2CodecOneInput},
        {"lzma_codec", LzmaCodecOneInput},
        {"crypto_stream", CryptoStreamOneInput},
    };
    return targets;
}

inline const FuzzTarget* FindFuzzTarget(const std::string& name)
{
    for (const auto& target : FuzzTargets())
    {
        if (name == target.name)
            return &target;
    }
    return nullptr;
}

} // namespace fuzzing
