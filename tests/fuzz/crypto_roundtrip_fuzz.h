#pragma once
// The encryption stream target: data encrypted with a fuzz-chosen password and check byte,
// written in fuzz-chosen pieces, decrypt to the same data with the same password and check
// byte, and the 12-byte header comes back as it was made. The header check accepts exactly
// the check byte it was written with.
//
// Input: the password (1 length byte, then its bytes), the check byte (1), the write and read
// sizes (2 each), a flag for byte-by-byte reading (1), then the data (see MakeData).
#include "tests/fuzz/fuzz_support.h"
#include "zip/zip_cryptostream.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace fuzzing {

inline bool CryptoStreamOneInput(const uint8_t* bytes, size_t size)
{
    constexpr const char* Target = "crypto_stream";
    constexpr size_t HeaderSize = zip_crypto_streambuf::HeaderSize;
    FuzzInput input(bytes, size);
    const std::string password = input.Bytes(40);
    const uint8_t checkByte = input.Byte();
    const size_t writeSize = 1 + input.Number(65535);
    const size_t readSize = 1 + input.Number(65535);
    const bool byteByByte = input.Flag();
    std::string data = MakeData(input, 1u << 20);
    data += input.Rest();
    const std::string how = "password " + Printable(password) + ", check byte " + std::to_string(checkByte) +
                            ", " + std::to_string(data.size()) + " bytes in writes of " + std::to_string(writeSize);

    std::stringstream cipher(std::ios::in | std::ios::out | std::ios::binary);
    std::string madeHeader;
    {
        zip_cryptostream writer;
        writer.crypto().bind_output(cipher);
        writer.crypto().init_keys(password.c_str());
        writer.crypto().set_check_byte(checkByte);
        for (size_t at = 0; at < data.size(); at += writeSize)
            writer.write(data.data() + at, static_cast<std::streamsize>(std::min(writeSize, data.size() - at)));
        // Encrypted data always begin with the header, also when there are none.
        writer.crypto().write_encryption_header();
        if (!writer.good() || !cipher.good())
            return Fail(Target, "encrypting", how + ": a stream failed");
        madeHeader.assign(reinterpret_cast<const char*>(writer.crypto().header()), HeaderSize);
    }
    const std::string encrypted = cipher.str();
    if (encrypted.size() != HeaderSize + data.size())
        return Fail(Target, "encrypted size", how + ": " + std::to_string(encrypted.size()) + " bytes written");
    if (static_cast<uint8_t>(madeHeader[HeaderSize - 1]) != checkByte)
        return Fail(Target, "header check byte", how + ": the header ends in " +
                                                     std::to_string(static_cast<uint8_t>(madeHeader.back())));

    // A check byte other than the one written must be refused.
    {
        std::istringstream source(encrypted, std::ios::in | std::ios::binary);
        zip_cryptostream reader;
        reader.crypto().bind_input(source);
        reader.crypto().init_keys(password.c_str());
        reader.crypto().set_check_byte(static_cast<uint8_t>(checkByte + 1));
        if (reader.crypto().read_encryption_header())
            return Fail(Target, "wrong check byte", how + ": the header check passed with check byte " +
                                                        std::to_string(static_cast<uint8_t>(checkByte + 1)));
    }

    std::istringstream source(encrypted, std::ios::in | std::ios::binary);
    zip_cryptostream reader;
    reader.crypto().bind_input(source);
    reader.crypto().init_keys(password.c_str());
    reader.crypto().set_check_byte(checkByte);
    if (!reader.crypto().read_encryption_header())
        return Fail(Target, "header check", how + ": the right password and check byte were refused");
    const std::string readHeader(reinterpret_cast<const char*>(reader.crypto().header()), HeaderSize);
    if (readHeader != madeHeader)
        return Fail(Target, "header", how + ": decrypted header " + Printable(readHeader) + ", made " +
                                          Printable(madeHeader));
    std::string decrypted;
    if (byteByByte)
    {
        for (int c = reader.get(); c != std::char_traits<char>::eof(); c = reader.get())
            decrypted += static_cast<char>(c);
    }
    else
    {
        size_t budget = data.size() + 1;
        decrypted = Drain(&reader, budget, readSize);
    }
    if (decrypted != data)
        return Fail(Target, "decrypted data", how + ": " + Difference(data, decrypted));
    return true;
}

} // namespace fuzzing
