#include "zip/lzma_decoder.h"

#include <LzmaDec.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <istream>

namespace {

void* SdkAlloc(void*, size_t size) { return std::malloc(size); }
void SdkFree(void*, void* address) { std::free(address); }

// Version (2 bytes), size of the property block (2 bytes), the 5 property bytes.
constexpr size_t kHeaderSize = 9;
// The dictionary starts at most this large and grows with the data decoded: a header may claim
// up to 4 GiB, which must not be taken on its word before any byte has decoded.
constexpr size_t kFirstDictionary = size_t{1} << 20;
// Bytes held back at the end of the input; see decode_next.
constexpr size_t kTail = 2;
// The range decoder takes in a byte whenever its range falls below this.
constexpr uint32_t kTopValue = uint32_t{1} << 24;

} // namespace

template <class CharT, class Traits>
struct basic_lzma_decoder<CharT, Traits>::sdk_state
{
    ISzAlloc alloc{SdkAlloc, SdkFree};
    CLzmaDec state;
};

template <class CharT, class Traits>
basic_lzma_decoder<CharT, Traits>::basic_lzma_decoder()
    : sdk(new sdk_state)
{
    LzmaDec_Construct(&sdk->state);
}

template <class CharT, class Traits>
basic_lzma_decoder<CharT, Traits>::~basic_lzma_decoder()
{
    LzmaDec_Free(&sdk->state, &sdk->alloc);
}

template <class CharT, class Traits>
bool basic_lzma_decoder<CharT, Traits>::is_initialized() const
{
    return input_buffer && output_buffer;
}

template <class CharT, class Traits>
size_t basic_lzma_decoder<CharT, Traits>::get_bytes_read() const
{
    return bytes_read;
}

template <class CharT, class Traits>
size_t basic_lzma_decoder<CharT, Traits>::get_bytes_written() const
{
    return bytes_produced;
}

template <class CharT, class Traits>
CharT* basic_lzma_decoder<CharT, Traits>::get_buffer_begin()
{
    return output_buffer.get();
}

template <class CharT, class Traits>
CharT* basic_lzma_decoder<CharT, Traits>::get_buffer_end()
{
    return output_buffer ? output_buffer.get() + last_count : nullptr;
}

template <class CharT, class Traits>
bool basic_lzma_decoder<CharT, Traits>::failed() const
{
    return (is_initialized() && !ready) || data_error;
}

template <class CharT, class Traits>
void basic_lzma_decoder<CharT, Traits>::init(istream_type& stream,
                                              compression_decoder_properties_interface& properties)
{
    lzma_decoder_properties defaults;
    const auto* given = dynamic_cast<const lzma_decoder_properties*>(&properties);
    const lzma_decoder_properties& settings = given ? *given : defaults;

    source = &stream;
    input_position = 0;
    input_held = 0;
    input_final = false;
    last_count = 0;
    ready = false;
    data_ended = false;
    data_error = false;
    // A buffer of no bytes could never pass anything on.
    capacity = std::max<size_t>(settings.BufferCapacity, 1);
    input_buffer.reset();
    output_buffer.reset();
    input_buffer.reset(new unsigned char[capacity]);
    output_buffer.reset(new CharT[capacity]);

    unsigned char header[kHeaderSize];
    stream.read(reinterpret_cast<CharT*>(header), kHeaderSize);
    // A cut header is not made up from anything: such a decoder yields no data.
    if (stream.gcount() != static_cast<std::streamsize>(kHeaderSize))
        return;
    // Bytes 0 to 3 (version, property-block size) are not needed to decode. The SDK refuses a
    // properties byte of 225 and more and raises the dictionary to 4096 bytes.
    CLzmaDec& dec = sdk->state;
    if (LzmaDec_AllocateProbs(&dec, header + 4, LZMA_PROPS_SIZE, &sdk->alloc) != SZ_OK)
        return;
    // The dictionary buffer starts small and grows as the output fills it (grow_dictionary).
    // A buffer left by an earlier stream is kept when it fits this one.
    const size_t declared = dec.prop.dicSize;
    const size_t first = std::min(declared, kFirstDictionary);
    if (!dec.dic || dec.dicBufSize < first || dec.dicBufSize > declared)
    {
        sdk->alloc.Free(&sdk->alloc, dec.dic);
        dec.dic = static_cast<Byte*>(sdk->alloc.Alloc(&sdk->alloc, first));
        dec.dicBufSize = dec.dic ? first : 0;
        if (!dec.dic)
        {
            LzmaDec_FreeProbs(&dec, &sdk->alloc);
            return;
        }
    }
    LzmaDec_Init(&dec);
    ready = true;
}

template <class CharT, class Traits>
size_t basic_lzma_decoder<CharT, Traits>::get_dictionary_size() const
{
    return sdk->state.dic ? sdk->state.dicBufSize : 0;
}

template <class CharT, class Traits>
bool basic_lzma_decoder<CharT, Traits>::grow_dictionary()
{
    // Until the output first fills the declared dictionary no byte is ever overwritten: the
    // buffer holds everything decoded so far, in order from its start, and every distance the
    // SDK accepts (less than the bytes decoded) stays inside it. Enlarging it with its
    // contents kept, never beyond the declared size, therefore leaves the SDK's state exactly
    // as a buffer of the full size from the start would have it. The ring turns only once the
    // buffer has its full size.
    CLzmaDec& dec = sdk->state;
    const size_t declared = dec.prop.dicSize;
    const size_t size = dec.dicBufSize;
    const size_t grown = size > declared / 2 ? declared : 2 * size;
    // The SDK's allocator is malloc and free, so realloc suits, and may move the pages
    // instead of copying them.
    void* larger = std::realloc(dec.dic, grown);
    if (!larger)
        return false;
    dec.dic = static_cast<Byte*>(larger);
    dec.dicBufSize = grown;
    return true;
}

template <class CharT, class Traits>
void basic_lzma_decoder<CharT, Traits>::init_with_defaults(istream_type& stream)
{
    lzma_decoder_properties defaults;
    this->init(stream, defaults);
}

template <class CharT, class Traits>
void basic_lzma_decoder<CharT, Traits>::refill()
{
    source->read(reinterpret_cast<CharT*>(input_buffer.get()), static_cast<std::streamsize>(capacity));
    const std::streamsize got = source->gcount();
    input_held = got > 0 ? static_cast<size_t>(got) : 0;
    input_position = 0;
    bytes_read += input_held;
    // The last bytes of a stream without end marker need care (decode_next), so learn
    // whether these are the last ones.
    input_final = input_held < capacity || Traits::eq_int_type(source->peek(), Traits::eof());
}

template <class CharT, class Traits>
bool basic_lzma_decoder<CharT, Traits>::at_clean_end() const
{
    // The encoder ends its range coder by writing out its low value, so at the true end of
    // the data the decoder has taken in every byte (or all but one, which the next
    // normalisation would take) and its code is 0. Past that point the range decoder could
    // still make up symbols from no input at all.
    const CLzmaDec& dec = sdk->state;
    if (dec.needFlush || dec.remainLen != 0)
        return false;
    const size_t unconsumed = dec.tempBufSize + (input_held - input_position);
    if (unconsumed == 0)
        return dec.code == 0;
    if (unconsumed == 1)
    {
        const unsigned char last = dec.tempBufSize ? dec.tempBuf[0] : input_buffer[input_position];
        return dec.range < kTopValue && dec.code == 0 && last == 0;
    }
    return false;
}

template <class CharT, class Traits>
size_t basic_lzma_decoder<CharT, Traits>::decode_next()
{
    last_count = 0;
    if (!ready || data_ended)
        return 0;

    CLzmaDec& dec = sdk->state;
    size_t produced = 0;
    while (produced < capacity)
    {
        size_t available = input_held - input_position;
        if (available == 0 && !input_final)
        {
            refill();
            continue;
        }

        if (dec.dicPos == dec.dicBufSize)
        {
            if (dec.dicBufSize < dec.prop.dicSize)
            {
                if (!grow_dictionary())
                {
                    // No memory for the data this stream needs: end it, reported as failed.
                    data_error = true;
                    data_ended = true;
                    break;
                }
            }
            else
            {
                dec.dicPos = 0; // the dictionary is a ring
            }
        }
        const size_t start = dec.dicPos;
        const size_t room = std::min(capacity - produced, static_cast<size_t>(dec.dicBufSize) - start);
        size_t limit = start + room;
        size_t view = available;
        if (input_final)
        {
            if (available > kTail)
            {
                // Hold the last bytes back: every symbol decoded while they wait is real.
                view = available - kTail;
            }
            else if (dec.needFlush)
            {
                limit = start; // only start the range decoder
            }
            else if (at_clean_end())
            {
                data_ended = true;
                break;
            }
            else
            {
                // Symbol by symbol, so that decoding stops where the encoder stopped.
                limit = start + (dec.remainLen != 0 ? std::min<size_t>(dec.remainLen, room) : 1);
            }
        }

        SizeT inLength = view;
        ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
        const SRes result = LzmaDec_DecodeToDic(&dec, limit, input_buffer.get() + input_position, &inLength,
                                                LZMA_FINISH_ANY, &status);
        input_position += inLength;
        const size_t got = dec.dicPos - start;
        std::memcpy(output_buffer.get() + produced, dec.dic + start, got);
        produced += got;

        if (result != SZ_OK)
        {
            // Corrupt data: keep what was decoded before the error, then end.
            data_error = true;
            data_ended = true;
            break;
        }
        if (status == LZMA_STATUS_FINISHED_WITH_MARK)
        {
            data_ended = true;
            break;
        }
        if (got == 0 && inLength == 0)
        {
            // Nothing moved: the input is cut short or holds no further symbol.
            data_ended = true;
            break;
        }
    }

    bytes_produced += produced;
    last_count = produced;
    return produced;
}

template class basic_lzma_decoder<char>;
