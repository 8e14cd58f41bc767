// Deflate and bzip2 data written here must read with Python's zlib and bz2, and theirs here.
#include "CodecTestSupport.h"

using namespace codectest;

namespace {

std::vector<std::string> Samples()
{
    return {"",
            "x",
            testutil::RandomData(32767, 2),
            testutil::CompressibleData(32768, 3),
            testutil::RandomData(32769, 4),
            testutil::RandomData(3 * 1024 * 1024 + 17, 5),
            testutil::CompressibleData(5 * 1024 * 1024, 6)};
}

// Runs `body` (Python, the bytes in `data`, returning bytes) on every input.
std::vector<std::string> Python(const std::string& body, const std::vector<std::string>& inputs)
{
    testutil::TempDir dir;
    for (size_t i = 0; i < inputs.size(); ++i)
        testutil::WriteFile(dir / std::to_string(i), inputs[i]);
    const auto result = testutil::RunPython("import sys, os, zlib, bz2\n"
                                            "def transform(data):\n" +
                                                body +
                                                "for i in range(int(sys.argv[2])):\n"
                                                "    p = os.path.join(sys.argv[1], str(i))\n"
                                                "    out = transform(open(p, 'rb').read())\n"
                                                "    open(p + '.out', 'wb').write(out)\n",
                                            {dir.path().string(), std::to_string(inputs.size())});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    std::vector<std::string> outputs;
    for (size_t i = 0; i < inputs.size(); ++i)
        outputs.push_back(result.exitCode ? "" : testutil::ReadFile(dir / (std::to_string(i) + ".out")));
    return outputs;
}

template <class Codec>
void CheckBothWays(const std::string& theirDecoder, const std::string& theirEncoder)
{
    const auto samples = Samples();
    std::vector<std::string> ours;
    for (const auto& data : samples)
        ours.push_back(Encode<Codec>(data));
    const auto decodedByThem = Python(theirDecoder, ours);
    const auto theirs = Python(theirEncoder, samples);
    for (size_t i = 0; i < samples.size(); ++i)
    {
        SCOPED_TRACE("size " + std::to_string(samples[i].size()));
        EXPECT_TRUE(decodedByThem[i] == samples[i]);
        EXPECT_TRUE(Decode<Codec>(theirs[i]) == samples[i]);
    }
}

} // namespace

TEST(CodecInterop, RawDeflateWithPythonZlib)
{
    // One raw stream each: no zlib header, no Adler-32 trailer, nothing after the final block.
    CheckBothWays<DeflateCodec>("    d = zlib.decompressobj(-15)\n"
                                "    out = d.decompress(data)\n"
                                "    assert d.eof and d.unused_data == b''\n"
                                "    return out\n",
                                "    c = zlib.compressobj(wbits=-15)\n"
                                "    return c.compress(data) + c.flush()\n");
}

TEST(CodecInterop, Bzip2WithPythonBz2)
{
    CheckBothWays<Bzip2Codec>("    d = bz2.BZ2Decompressor()\n"
                              "    out = d.decompress(data)\n"
                              "    assert d.eof and d.unused_data == b''\n"
                              "    return out\n",
                              "    return bz2.compress(data, 9)\n");
}
