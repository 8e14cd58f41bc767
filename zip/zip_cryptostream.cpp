#include "zip/zip_cryptostream.h"

#include <chrono>
#include <random>
#include <zlib.h>

namespace {

const z_crc_t* CrcTable()
{
    static const z_crc_t* table = get_crc_table();
    return table;
}

} // namespace

void zip_crypto_streambuf::bind_input(std::istream& source)
{
    input = &source;
    output = nullptr;
    checkByte = -1;
    initialised = false;
    headerWritten = false;
}

void zip_crypto_streambuf::bind_output(std::ostream& target)
{
    output = &target;
    input = nullptr;
    checkByte = -1;
    initialised = false;
    headerWritten = false;
}

uint8_t zip_crypto_streambuf::KeystreamByte() const
{
    uint32_t t = (key2 | 2u) & 0xFFFFu;
    return static_cast<uint8_t>(((t * (t ^ 1u)) >> 8) & 0xFFu);
}

void zip_crypto_streambuf::UpdateKeys(uint8_t plain)
{
    const z_crc_t* table = CrcTable();
    key0 = static_cast<uint32_t>(table[(key0 ^ plain) & 0xFFu]) ^ (key0 >> 8);
    key1 = (key1 + (key0 & 0xFFu)) * 134775813u + 1u;
    key2 = static_cast<uint32_t>(table[(key2 ^ (key1 >> 24)) & 0xFFu]) ^ (key2 >> 8);
}

char zip_crypto_streambuf::encrypt_byte(char plain)
{
    uint8_t k = KeystreamByte();
    UpdateKeys(static_cast<uint8_t>(plain));
    return static_cast<char>(static_cast<uint8_t>(plain) ^ k);
}

char zip_crypto_streambuf::DecryptByte(char cipher)
{
    uint8_t plain = static_cast<uint8_t>(static_cast<uint8_t>(cipher) ^ KeystreamByte());
    UpdateKeys(plain);
    return static_cast<char>(plain);
}

bool zip_crypto_streambuf::init_keys(const char* password)
{
    key0 = 0x12345678;
    key1 = 0x23456789;
    key2 = 0x34567890;
    if (password)
        for (const char* p = password; *p; ++p)
            UpdateKeys(static_cast<uint8_t>(*p));

    // The header's random bytes: a generator seeded anew each time from the clock, counted in
    // 100-nanosecond ticks since 1970.
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    auto ticks = std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch());
    std::mt19937 generator(static_cast<uint32_t>(static_cast<uint64_t>(ticks.count()) & 0xFFFFFFFFu));
    for (size_t word = 0; word < 3; ++word)
    {
        uint32_t value = static_cast<uint32_t>(generator());
        for (size_t i = 0; i < 4; ++i)
            headerBytes[word * 4 + i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFFu);
    }

    if (!buffer)
        buffer.reset(new char[BufferSize]);
    char* end = buffer.get() + BufferSize;
    setg(end, end, end);
    return true;
}

void zip_crypto_streambuf::write_encryption_header()
{
    if (headerWritten || !output)
        return;
    headerBytes[HeaderSize - 1] = static_cast<unsigned char>(checkByte & 0xFF);
    char encrypted[HeaderSize];
    for (size_t i = 0; i < HeaderSize; ++i)
        encrypted[i] = encrypt_byte(static_cast<char>(headerBytes[i]));
    output->write(encrypted, static_cast<std::streamsize>(HeaderSize));
    headerWritten = true;
}

zip_crypto_streambuf::int_type zip_crypto_streambuf::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()) || !output)
        return traits_type::eof();
    write_encryption_header();
    char encrypted = encrypt_byte(traits_type::to_char_type(c));
    output->write(&encrypted, 1);
    return traits_type::to_int_type(encrypted);
}

int zip_crypto_streambuf::sync()
{
    if (!output)
        return 0; // reading: nothing to hand on
    std::streambuf* target = output->rdbuf();
    return target ? target->pubsync() : -1;
}

bool zip_crypto_streambuf::read_encryption_header()
{
    if (!input)
        return false;
    // A short read leaves the random bytes in place: the check then fails but by chance.
    char bytes[HeaderSize];
    for (size_t i = 0; i < HeaderSize; ++i)
        bytes[i] = static_cast<char>(headerBytes[i]);
    input->read(bytes, static_cast<std::streamsize>(HeaderSize));
    for (size_t i = 0; i < HeaderSize; ++i)
        headerBytes[i] = static_cast<unsigned char>(DecryptByte(bytes[i]));
    initialised = true;
    return headerBytes[HeaderSize - 1] == static_cast<unsigned char>(checkByte & 0xFF);
}

zip_crypto_streambuf::int_type zip_crypto_streambuf::underflow()
{
    if (!initialised || !input || !buffer)
        return traits_type::eof();
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    input->read(buffer.get(), static_cast<std::streamsize>(BufferSize));
    std::streamsize count = input->gcount();
    if (count <= 0)
        return traits_type::eof();
    char* data = buffer.get();
    for (std::streamsize i = 0; i < count; ++i)
        data[i] = DecryptByte(data[i]);
    setg(data, data, data + count);
    return traits_type::to_int_type(*gptr());
}
