#include "zip/StoreMethod.h"
#include "zip/ZipArchive.h"
#include "zip/ZipRecords.h"
#include "zip/sub_stream.h"
#include "zip/zip_cryptostream.h"

#include "tests/common/TestUtil.h"
#include "tests/common/ZipFixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <zlib.h>

namespace {

uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Encrypt(const std::string& plain, const char* password, int checkByte)
{
    std::ostringstream out;
    basic_zip_cryptostream<char> crypt;
    crypt.crypto().bind_output(out);
    crypt.crypto().init_keys(password);
    crypt.crypto().set_check_byte(checkByte);
    crypt.write(plain.data(), static_cast<std::streamsize>(plain.size()));
    EXPECT_TRUE(crypt.good());
    return out.str();
}

// Decrypts all that follows the header; `headerOk` tells whether the check byte matched.
std::string Decrypt(std::istream& cipher, const char* password, int checkByte, bool& headerOk)
{
    basic_zip_cryptostream<char> crypt;
    crypt.crypto().bind_input(cipher);
    crypt.crypto().init_keys(password);
    crypt.crypto().set_check_byte(checkByte);
    headerOk = crypt.crypto().read_encryption_header();
    std::ostringstream plain;
    plain << crypt.rdbuf();
    return plain.str();
}

bool Same(const std::string& a, const std::string& b) { return a == b; } // keeps failures short

TEST(Crypto, RoundTripAndWrongPasswords)
{
    for (size_t size : {0, 1, 32767, 32768, 100001})
    {
        SCOPED_TRACE(size);
        std::string plain = testutil::RandomData(size, static_cast<uint32_t>(size));
        std::string cipher = Encrypt(plain, "pass word", 0x1A7); // only the low 8 bits count
        // Without data the header goes out only when the owner asks for it.
        ASSERT_EQ(cipher.size(), size == 0 ? 0 : size + 12);
        if (size == 0)
            continue;
        std::istringstream in(cipher);
        bool ok = false;
        EXPECT_TRUE(Same(Decrypt(in, "pass word", 0xA7, ok), plain));
        EXPECT_TRUE(ok);
    }

    std::string cipher = Encrypt(testutil::RandomData(5000, 9), "right", 0x42);
    int accepted = 0;
    for (const char* wrong : {"wrong", "Right", "righ", "right ", "x", "yy", "zzz", "0000"})
    {
        std::istringstream in(cipher);
        bool ok = false;
        Decrypt(in, wrong, 0x42, ok);
        accepted += ok;
    }
    EXPECT_LE(accepted, 2) << "a wrong password passes the one-byte check only by chance";
}

// The 11 random bytes of the encryption header differ from one encryption to the next, so
// equal data under one password never give equal bytes; the twelfth is the check byte, and
// every one decrypts right.
TEST(Crypto, EveryEncryptionGetsAHeaderOfItsOwn)
{
    const std::string plain = testutil::CompressibleData(3000, 5);
    std::set<std::string> headers;
    for (int i = 0; i < 16; ++i)
    {
        std::ostringstream out;
        basic_zip_cryptostream<char> crypt;
        crypt.crypto().bind_output(out);
        crypt.crypto().init_keys("same password");
        crypt.crypto().set_check_byte(0x5A);
        crypt.crypto().write_encryption_header();
        crypt.crypto().write_encryption_header(); // only once
        crypt.write(plain.data(), static_cast<std::streamsize>(plain.size()));
        ASSERT_EQ(out.str().size(), plain.size() + 12);

        std::istringstream in(out.str());
        basic_zip_cryptostream<char> reader;
        reader.crypto().bind_input(in);
        reader.crypto().init_keys("same password");
        reader.crypto().set_check_byte(0x5A);
        ASSERT_TRUE(reader.crypto().read_encryption_header());
        const unsigned char* header = reader.crypto().header();
        EXPECT_EQ(header[11], 0x5A);
        headers.insert(std::string(header, header + 11));
        std::ostringstream back;
        back << reader.rdbuf();
        EXPECT_TRUE(Same(back.str(), plain));
    }
    EXPECT_EQ(headers.size(), 16u);

    // Two entries of one archive with the same password and data: different stored bytes, and
    // both decrypt right.
    auto archive = ZipArchive::Create(nullptr);
    for (const char* name : {"one", "two"})
    {
        auto entry = archive->CreateEntry(name);
        entry->SetPassword("same password");
        std::istringstream source(plain);
        entry->SetCompressionStream(source, std::make_shared<StoreMethod>());
    }
    auto reread = ziptest::OpenBytes(ziptest::WriteToBytes(*archive));
    ASSERT_EQ(reread->GetEntriesCount(), 2u);
    EXPECT_NE(ziptest::ReadAll(reread->GetEntry(0)->GetRawStream()), ziptest::ReadAll(reread->GetEntry(1)->GetRawStream()));
    for (size_t i = 0; i < 2; ++i)
    {
        auto entry = reread->GetEntry(i);
        entry->SetPassword("same password");
        std::vector<char> data;
        EXPECT_TRUE(entry->ReadVerifiedData(data));
        EXPECT_TRUE(Same(std::string(data.begin(), data.end()), plain));
    }
}

// Wraps encrypted stored data in a one-entry archive and lets Python's zipfile decrypt it; it
// checks the header's check byte and the CRC-32 of the result.
const char* ZipfileReader = R"(
import io, os, struct, sys, zipfile
blob = open(sys.argv[1], 'rb').read()
crc, size, flags, dostime = (int(a) for a in sys.argv[2:6])
name = b'secret.bin'
local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, flags, 0, dostime, 0x5A21, crc, len(blob), size, len(name), 0)
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, flags, 0, dostime, 0x5A21, crc, len(blob), size,
                      len(name), 0, 0, 0, 0, 0, 0)
data = local + name + blob
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(central) + len(name), len(data), 0)
out = zipfile.ZipFile(io.BytesIO(data + central + name + end)).read('secret.bin', pwd=os.fsencode(sys.argv[6]))
sys.stdout.buffer.write(out)
)";

TEST(Crypto, PythonZipfileDecryptsOurData)
{
    testutil::TempDir dir;
    std::string plain = testutil::CompressibleData(40000, 11) + testutil::RandomData(3000, 12);
    uint32_t crc = Crc(plain);
    const uint16_t dosTime = 0xB7E3;
    struct
    {
        uint16_t flags;
        int checkByte;
        const char* password;
    } cases[] = {
        {0x0001, static_cast<int>(crc >> 24), "s3cr\xe9t"},         // check byte from the CRC-32
        {0x0009, static_cast<int>(dosTime >> 8), "with descriptor"}, // bit 3: from the time
    };
    for (const auto& c : cases)
    {
        testutil::WriteFile(dir / "blob", Encrypt(plain, c.password, c.checkByte));
        auto result = testutil::RunPython(ZipfileReader, {(dir / "blob").string(), std::to_string(crc),
                                                          std::to_string(plain.size()), std::to_string(c.flags),
                                                          std::to_string(dosTime), c.password});
        ASSERT_EQ(result.exitCode, 0) << result.output.substr(result.output.size() > 2000 ? result.output.size() - 2000 : 0);
        EXPECT_TRUE(Same(result.output, plain)) << "flags " << c.flags;
    }
}

TEST(Crypto, DecryptsInfoZipEncryptedEntry)
{
    testutil::TempDir dir;
    std::string plain = testutil::CompressibleData(70000, 13);
    testutil::WriteFile(dir / "data.sii", plain);
    auto made = testutil::RunCommand("cd " + testutil::ShellQuote(dir.path().string()) +
                                     " && zip -q -0 -P 'open sesame' enc.zip data.sii");
    ASSERT_EQ(made.exitCode, 0) << made.output;

    std::ifstream file(dir / "enc.zip", std::ios::binary);
    LocalFileHeader local;
    ASSERT_TRUE(local.Deserialize(file));
    ASSERT_TRUE(local.GeneralPurposeBitFlag & FlagEncrypted);
    bool descriptor = (local.GeneralPurposeBitFlag & FlagDataDescriptor) != 0;
    int check = descriptor ? local.LastModificationTime >> 8 : static_cast<int>(Crc(plain) >> 24);
    auto window = std::make_shared<basic_isubstream<char>>(file, file.tellg(), static_cast<uint32_t>(plain.size() + 12));
    bool ok = false;
    EXPECT_TRUE(Same(Decrypt(*window, "open sesame", check, ok), plain));
    EXPECT_TRUE(ok);
}

TEST(Crypto, ShortUnreadOrUnboundStreamsNeverHang)
{
    for (size_t size : {0, 5, 12, 100})
    {
        SCOPED_TRACE(size);
        std::istringstream in(std::string(size, 'q'));
        basic_zip_cryptostream<char> crypt;
        crypt.crypto().bind_input(in);
        crypt.crypto().init_keys("p");
        if (size == 100)
        {
            // Before the header is read there is no data.
            EXPECT_EQ(crypt.get(), std::char_traits<char>::eof());
            EXPECT_EQ(crypt.tellg(), std::streampos(-1));
            continue;
        }
        crypt.crypto().read_encryption_header();
        char block[64];
        crypt.read(block, sizeof(block));
        EXPECT_EQ(crypt.gcount(), 0);
    }
    basic_zip_cryptostream<char> unbound;
    EXPECT_FALSE(unbound.crypto().read_encryption_header());
    unbound.put('a');
    EXPECT_TRUE(unbound.bad());
}

} // namespace
