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
    return header_failed || data_error;
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
    stream_produced = 0;
    peak_dictionary = 0;
    size_expected = false;
    header_failed = false;
    data_ended = false;
    data_error = false;
    result_code = 0;
    // A buffer of no bytes could never pass anything on.
    capacity = std::max<size_t>(settings.BufferCapacity, 1);
    input_buffer.reset();
    output_buffer.reset();
    input_buffer.reset(new unsigned char[capacity]);
    output_buffer.reset(new CharT[capacity]);

    unsigned char header[kHeaderSize];
    stream.read(reinterpret_cast<CharT*>(header), kHeaderSize);
    // A cut header is not made up from anything: such a decoder yields no data.
    CLzmaDec& dec = sdk->state;
    // Bytes 0 to 3 (version, property-block size) are not needed to decode. The SDK refuses a
    // properties byte of 225 and more and raises the dictionary to 4096 bytes.
    const SRes allocated = stream.gcount() != static_cast<std::streamsize>(kHeaderSize)
                               ? SZ_ERROR_INPUT_EOF
                               : LzmaDec_AllocateProbs(&dec, header + 4, LZMA_PROPS_SIZE, &sdk->alloc);
    if (allocated != SZ_OK)
    {
        header_failed = true;
        result_code = allocated;
        end_data(false);
        return;
    }
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
            header_failed = true;
            result_code = SZ_ERROR_MEM;
            end_data(false);
            return;
        }
    }
    peak_dictionary = dec.dicBufSize;
    LzmaDec_Init(&dec);
}

template <class CharT, class Traits>
void basic_lzma_decoder<CharT, Traits>::set_expected_size(uint64_t size)
{
    expected_size = size;
    size_expected = !data_ended && size >= stream_produced;
}

template <class CharT, class Traits>
size_t basic_lzma_decoder<CharT, Traits>::get_dictionary_size() const
{
    return sdk->state.dic ? sdk->state.dicBufSize : 0;
}

template <class CharT, class Traits>
size_t basic_lzma_decoder<CharT, Traits>::get_peak_dictionary_size() const
{
    return peak_dictionary;
}

template <class CharT, class Traits>
bool basic_lzma_decoder<CharT, Traits>::holds_working_memory() const
{
    return sdk->state.dic || sdk->state.probs;
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
    peak_dictionary = std::max(peak_dictionary, grown);
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
    // Whether the stream can end here (ends_here) depends on whether these are the last bytes.
    input_final = input_held < capacity || Traits::eq_int_type(source->peek(), Traits::eof());
}

template <class CharT, class Traits>
bool basic_lzma_decoder<CharT, Traits>::ends_here() const
{
    // The encoder ends a stream without end marker by writing out its range coder's low value,
    // so right after the last real symbol the decoder has taken in every byte and its code is
    // 0, with no match still to be copied. A stream that has more to say fails one of these.
    const CLzmaDec& dec = sdk->state;
    return !dec.needFlush && dec.remainLen == 0 && dec.code == 0 && dec.tempBufSize == 0 && input_final &&
           input_position == input_held;
}

template <class CharT, class Traits>
void basic_lzma_decoder<CharT, Traits>::end_data(bool error)
{
    data_ended = true;
    data_error = data_error || error;
    size_expected = false;
    // Nothing more decodes: the dictionary and the probabilities (tens of MiB for a large
    // dictionary) go now, not when the decoder is destroyed.
    LzmaDec_Free(&sdk->state, &sdk->alloc);
}

template <class CharT, class Traits>
size_t basic_lzma_decoder<CharT, Traits>::decode_next()
{
    last_count = 0;
    if (data_ended)
        return 0;

    CLzmaDec& dec = sdk->state;
    size_t produced = 0;
    for (;;)
    {
        if (input_position == input_held && !input_final)
        {
            refill();
            continue;
        }
        const size_t available = input_held - input_position;

        // At the expected size, end if the stream ends here; if it does not, go on without a
        // limit, so that the caller sees the data are longer than it expected.
        bool start_only = false;
        if (size_expected && stream_produced + produced == expected_size)
        {
            if (dec.needFlush && available > 0)
            {
                start_only = true; // the range decoder's state tells only once it has started
            }
            else
            {
                size_expected = false;
                if (ends_here())
                {
                    end_data(false);
                    break;
                }
                continue;
            }
        }
        if (produced == capacity)
            break;

        if (dec.dicPos == dec.dicBufSize)
        {
            if (dec.dicBufSize < dec.prop.dicSize)
            {
                if (!grow_dictionary())
                {
                    // No memory for the data this stream needs: end it, reported as failed.
                    result_code = SZ_ERROR_MEM;
                    end_data(true);
                    break;
                }
            }
            else
            {
                dec.dicPos = 0; // the dictionary is a ring
            }
        }
        const size_t start = dec.dicPos;
        size_t room = std::min(capacity - produced, static_cast<size_t>(dec.dicBufSize) - start);
        if (size_expected)
            room = static_cast<size_t>(std::min<uint64_t>(room, expected_size - (stream_produced + produced)));
        const size_t limit = start_only ? start : start + room;

        SizeT inLength = available;
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
            result_code = result;
            end_data(true);
            break;
        }
        if (status == LZMA_STATUS_FINISHED_WITH_MARK)
        {
            end_data(false);
            break;
        }
        if (got == 0 && inLength == 0)
        {
            // The input is used up (or cut short) and no further symbol decodes without more.
            end_data(false);
            break;
        }
    }

    stream_produced += produced;
    bytes_produced += produced;
    last_count = produced;
    return produced;
}

template class basic_lzma_decoder<char>;
