// Throughput of every codec, encoding and decoding through the compression stream buffers,
// next to zlib's own compress2/uncompress on the same data in the same run.
//
// Run a Release build: codec_bench [MiB]   (default 64 MiB of compressible text)
#include "bench/DefinitionText.h"
#include "zip/Bzip2Method.h"
#include "zip/DeflateMethod.h"
#include "zip/LzmaMethod.h"
#include "zip/StoreMethod.h"
#include "zip/compression_decoder_stream.h"
#include "zip/compression_encoder_stream.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string CompressibleData(size_t size)
{
    std::mt19937 rng(1);
    return DefinitionLikeText(rng, size);
}

void Report(const char* name, size_t inputSize, size_t compressedSize, double encodeSeconds, double decodeSeconds,
            bool exact)
{
    const double mb = static_cast<double>(inputSize) / 1e6;
    std::printf("%-16s encode %9.1f MB/s   decode %9.1f MB/s   ratio %6.2f%%%s\n", name, mb / encodeSeconds,
                mb / decodeSeconds, 100.0 * static_cast<double>(compressedSize) / static_cast<double>(inputSize),
                exact ? "" : "   MISMATCH");
}

template <class Method>
void RunMethod(const char* name, const std::string& data)
{
    // One method object per direction, as the archive uses them.
    Method writer;
    std::ostringstream out;
    auto start = Clock::now();
    {
        basic_compression_encoder_stream<char> stream(writer.GetEncoderProperties(), out, writer.GetEncoder());
        stream.write(data.data(), static_cast<std::streamsize>(data.size()));
        stream.flush();
    }
    const double encodeSeconds = Seconds(start);
    const std::string compressed = out.str();

    Method reader;
    std::istringstream in(compressed);
    std::string back;
    back.reserve(data.size());
    start = Clock::now();
    {
        basic_compression_decoder_stream<char> stream(reader.GetDecoder(), reader.GetDecoderProperties(), in);
        std::vector<char> chunk(1 << 20);
        while (stream.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || stream.gcount() > 0)
            back.append(chunk.data(), static_cast<size_t>(stream.gcount()));
    }
    const double decodeSeconds = Seconds(start);
    // Without the size, an LZMA stream without end marker may decode to a few zero bytes more
    // (an entry's read knows its size and cuts them): the data must come first, whole.
    const bool exact = back.size() >= data.size() && back.compare(0, data.size(), data) == 0;
    Report(name, data.size(), compressed.size(), encodeSeconds, decodeSeconds, exact);
}

void RunZlib(const std::string& data)
{
    std::vector<Bytef> compressed(compressBound(static_cast<uLong>(data.size())));
    uLongf compressedSize = static_cast<uLongf>(compressed.size());
    auto start = Clock::now();
    const int encoded = compress2(compressed.data(), &compressedSize, reinterpret_cast<const Bytef*>(data.data()),
                                  static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
    const double encodeSeconds = Seconds(start);

    std::string back(data.size(), '\0');
    uLongf backSize = static_cast<uLongf>(back.size());
    start = Clock::now();
    const int decoded = uncompress(reinterpret_cast<Bytef*>(&back[0]), &backSize, compressed.data(), compressedSize);
    const double decodeSeconds = Seconds(start);
    Report("zlib compress2", data.size(), compressedSize, encodeSeconds, decodeSeconds,
           encoded == Z_OK && decoded == Z_OK && back == data);
}

} // namespace

int main(int argc, char** argv)
{
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const std::string data = CompressibleData(mib << 20);
    std::printf("%zu MiB of compressible text; MB = 10^6 bytes of uncompressed data\n", mib);
    RunZlib(data);
    RunMethod<StoreMethod>("store", data);
    RunMethod<DeflateMethod>("deflate", data);
    RunMethod<Bzip2Method>("bzip2", data);
    RunMethod<LzmaMethod>("lzma", data);
    return 0;
}
