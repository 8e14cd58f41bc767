#pragma once
// The traditional PKWARE encryption: three 32-bit keys updated from each plain byte, a
// keystream byte from the third key, and the 12-byte encryption header (11 random bytes and
// a check byte) that precedes an encrypted entry's data. One object works in one direction:
// bound to an input it checks the header and hands out decrypted bytes; bound to an output it
// writes the header before the first byte and every byte encrypted at once (nothing is held
// back, so no flush is needed). No repositioning.
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <type_traits>

class zip_crypto_streambuf : public std::basic_streambuf<char>
{
public:
    static constexpr size_t BufferSize = 32768;
    static constexpr size_t HeaderSize = 12;

    zip_crypto_streambuf() = default;
    zip_crypto_streambuf(const zip_crypto_streambuf&) = delete;
    zip_crypto_streambuf& operator=(const zip_crypto_streambuf&) = delete;

    // Choose the direction; either resets the check byte and the header state.
    void bind_input(std::istream& source);
    void bind_output(std::ostream& target);

    // Keys from the password (a null pointer counts as empty), fresh random header bytes and
    // the read buffer. Always true.
    bool init_keys(const char* password);
    // Only the low 8 bits count; set after init_keys and before the header moves.
    void set_check_byte(int value) { checkByte = value; }

    // Reads and decrypts the 12-byte header; true when its last byte is the check byte.
    // Decryption works from then on, whatever the result.
    bool read_encryption_header();
    // Writes the encrypted header once; later calls do nothing.
    void write_encryption_header();
    // Encrypts one byte and advances the keys.
    char encrypt_byte(char plain);

    // The header as generated (writing) or as read and decrypted (reading).
    const unsigned char* header() const { return headerBytes; }

protected:
    int_type overflow(int_type c) override;
    int_type underflow() override;
    int sync() override;

private:
    uint8_t KeystreamByte() const;
    void UpdateKeys(uint8_t plain);
    char DecryptByte(char cipher);

    std::unique_ptr<char[]> buffer;
    std::istream* input = nullptr;
    std::ostream* output = nullptr;
    uint32_t key0 = 0x12345678;
    uint32_t key1 = 0x23456789;
    uint32_t key2 = 0x34567890;
    unsigned char headerBytes[HeaderSize] = {};
    int32_t checkByte = -1;
    bool initialised = false;
    bool headerWritten = false;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_zip_cryptostream : public std::basic_iostream<CharT, Traits>
{
    static_assert(std::is_same<CharT, char>::value, "the cipher works on narrow bytes");

public:
    basic_zip_cryptostream() : std::basic_iostream<CharT, Traits>(nullptr)
    {
        std::basic_ios<CharT, Traits>::init(&buffer);
    }

    zip_crypto_streambuf& crypto() { return buffer; }

private:
    zip_crypto_streambuf buffer;
};

using zip_cryptostream = basic_zip_cryptostream<char>;
