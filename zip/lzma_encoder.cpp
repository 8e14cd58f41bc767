#include "zip/lzma_encoder.h"

#include <LzmaEnc.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <ostream>
#include <stdexcept>

namespace {

void* SdkAlloc(void*, size_t size) { return std::malloc(size); }
void SdkFree(void*, void* address) { std::free(address); }

// The ZIP framing of method 14: SDK version 9.22 and the size of the property block.
constexpr unsigned char kHeaderStart[4] = {9, 22, 5, 0};

} // namespace

template <class CharT, class Traits>
struct basic_lzma_encoder<CharT, Traits>::sdk_state
{
    // The SDK hands its callbacks a pointer to the callback table; each table is the first
    // member of a standard-layout struct that also leads back to the encoder.
    struct in_side
    {
        ISeqInStream table;
        basic_lzma_encoder* owner;
    };
    struct out_side
    {
        ISeqOutStream table;
        basic_lzma_encoder* owner;
    };

    static SRes Read(void* p, void* buffer, size_t* size)
    {
        return reinterpret_cast<in_side*>(p)->owner->read_input(buffer, size);
    }
    static size_t Write(void* p, const void* data, size_t size)
    {
        return reinterpret_cast<out_side*>(p)->owner->write_output(data, size);
    }

    ISzAlloc alloc{SdkAlloc, SdkFree};
    CLzmaEncHandle handle = nullptr;
    in_side input{};
    out_side output{};
};

template <class CharT, class Traits>
basic_lzma_encoder<CharT, Traits>::basic_lzma_encoder()
    : sdk(new sdk_state)
{
    sdk->handle = LzmaEnc_Create(&sdk->alloc);
    if (!sdk->handle)
        throw std::bad_alloc();
    sdk->input.table.Read = &sdk_state::Read;
    sdk->input.owner = this;
    sdk->output.table.Write = &sdk_state::Write;
    sdk->output.owner = this;
}

template <class CharT, class Traits>
basic_lzma_encoder<CharT, Traits>::~basic_lzma_encoder()
{
    try
    {
        end_data();
        if (worker.joinable())
        {
            // Released from its own encoder thread (never in practice): a join would throw.
            if (worker.get_id() == std::this_thread::get_id())
                worker.detach();
            else
                worker.join();
        }
    }
    catch (...)
    {
    }
    // Joined (or never started): nobody else uses the SDK state any more.
    release_sdk();
}

template <class CharT, class Traits>
bool basic_lzma_encoder<CharT, Traits>::is_initialized() const
{
    return output != nullptr;
}

template <class CharT, class Traits>
size_t basic_lzma_encoder<CharT, Traits>::get_bytes_read() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return bytes_taken;
}

template <class CharT, class Traits>
size_t basic_lzma_encoder<CharT, Traits>::get_bytes_written() const
{
    return bytes_written.load();
}

template <class CharT, class Traits>
CharT* basic_lzma_encoder<CharT, Traits>::get_buffer_begin()
{
    std::lock_guard<std::mutex> lock(mutex);
    return reinterpret_cast<CharT*>(block);
}

template <class CharT, class Traits>
CharT* basic_lzma_encoder<CharT, Traits>::get_buffer_end()
{
    std::lock_guard<std::mutex> lock(mutex);
    return block ? reinterpret_cast<CharT*>(block) + block_size : nullptr;
}

template <class CharT, class Traits>
bool basic_lzma_encoder<CharT, Traits>::failed() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return encoding_failed;
}

template <class CharT, class Traits>
int basic_lzma_encoder<CharT, Traits>::library_result() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return failure_code;
}

template <class CharT, class Traits>
bool basic_lzma_encoder<CharT, Traits>::holds_working_memory() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return sdk_held;
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::init(ostream_type& stream,
                                              compression_encoder_properties_interface& properties)
{
    // The SDK state, the end flag and the counters belong to one stream; starting a second
    // thread over them would corrupt both encodings.
    if (started)
        throw std::logic_error("an LZMA encoder encodes one stream only");
    started = true;
    output = &stream;

    lzma_encoder_properties defaults;
    const auto* given = dynamic_cast<const lzma_encoder_properties*>(&properties);
    const lzma_encoder_properties& settings = given ? *given : defaults;

    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = settings.CompressionLevel;
    props.numThreads = settings.IsMultithreaded ? 2 : 1;
    const SRes accepted = LzmaEnc_SetProps(sdk->handle, &props);
    if (accepted != SZ_OK)
    {
        record_failure(accepted);
        {
            std::lock_guard<std::mutex> lock(mutex);
            thread_finished = true;
        }
        release_sdk();
        return;
    }
    start_encoding();
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::init_with_defaults(ostream_type& stream)
{
    lzma_encoder_properties defaults;
    this->init(stream, defaults);
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::start_encoding()
{
    unsigned char header[9];
    std::copy(std::begin(kHeaderStart), std::end(kHeaderStart), header);
    SizeT propsSize = LZMA_PROPS_SIZE;
    SRes code = LzmaEnc_WriteProperties(sdk->handle, header + 4, &propsSize);
    if (code == SZ_OK && propsSize != LZMA_PROPS_SIZE)
        code = SZ_ERROR_PARAM;
    if (code == SZ_OK)
    {
        try
        {
            output->write(reinterpret_cast<const CharT*>(header), sizeof header);
            if (output->fail())
                code = SZ_ERROR_WRITE;
            else
                bytes_written += sizeof header;
        }
        catch (...)
        {
            code = SZ_ERROR_WRITE;
        }
    }
    if (code == SZ_OK)
    {
        try
        {
            worker = std::thread(&basic_lzma_encoder::encoder_thread_main, this);
        }
        catch (...)
        {
            code = SZ_ERROR_THREAD;
        }
    }
    if (code != SZ_OK)
    {
        // No encoder thread runs: the SDK state is ours to give back at once.
        record_failure(code);
        {
            std::lock_guard<std::mutex> lock(mutex);
            thread_finished = true;
        }
        release_sdk();
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    // The stream buffer asks for its put area right after init: wait for the first block.
    turn_changed.wait(lock, [this] { return encoder_turns != 0 || thread_finished; });
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::encode_next(size_t length)
{
    std::unique_lock<std::mutex> lock(mutex);
    // Blocks after the end, or once the SDK has stopped, go nowhere. The turn is the
    // caller's only while the encoder side waits on a published block.
    if (!started || data_ended || thread_finished || caller_turns >= encoder_turns)
        return;
    bytes_taken += std::min(length, block_size);
    const uint64_t seen = encoder_turns;
    ++caller_turns;
    turn_changed.notify_all();
    // Ends on the SDK's next read, or when the SDK finished without one (an empty last block).
    turn_changed.wait(lock, [&] { return encoder_turns != seen || thread_finished; });
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::end_data()
{
    encode_next(0);
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::sync()
{
    // Joining a thread that still waits for data would never return.
    end_data();
    if (worker.joinable())
        worker.join();
}

template <class CharT, class Traits>
int basic_lzma_encoder<CharT, Traits>::read_input(void* buffer, size_t* size) noexcept
{
    try
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (data_ended)
        {
            // The SDK asks once more after a short block; there is nothing left to give.
            block = nullptr;
            block_size = 0;
            ++encoder_turns;
            turn_changed.notify_all();
            *size = 0;
            return SZ_OK;
        }
        const size_t before = bytes_taken;
        block = static_cast<unsigned char*>(buffer);
        block_size = *size;
        const uint64_t seen = caller_turns;
        ++encoder_turns;
        turn_changed.notify_all();
        turn_changed.wait(lock, [&] { return caller_turns != seen; });
        const size_t delivered = bytes_taken - before;
        // The buffer is the SDK's again.
        block = nullptr;
        block_size = 0;
        if (delivered < *size)
            data_ended = true;
        *size = delivered;
        return SZ_OK;
    }
    catch (...)
    {
        record_failure(SZ_ERROR_READ);
        *size = 0;
        return SZ_ERROR_READ;
    }
}

template <class CharT, class Traits>
size_t basic_lzma_encoder<CharT, Traits>::write_output(const void* data, size_t size) noexcept
{
    try
    {
        output->write(static_cast<const CharT*>(data), static_cast<std::streamsize>(size));
        if (output->fail())
        {
            // A short count makes the SDK stop with an error instead of compressing into the void.
            record_failure(SZ_ERROR_WRITE);
            return 0;
        }
        bytes_written += size;
        return size;
    }
    catch (...)
    {
        record_failure(SZ_ERROR_WRITE);
        return 0;
    }
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::encoder_thread_main() noexcept
{
    const SRes result =
        LzmaEnc_Encode(sdk->handle, &sdk->output.table, &sdk->input.table, nullptr, &sdk->alloc, &sdk->alloc);
    if (result != SZ_OK)
        record_failure(result);
    // The SDK is done with its state whatever the result: give the match finder and the
    // dictionary back now rather than when the encoder goes. Only this thread uses the state
    // until it ends, and the owner touches it again only after joining.
    release_sdk();
    try
    {
        std::lock_guard<std::mutex> lock(mutex);
        thread_finished = true;
        block = nullptr;
        block_size = 0;
        turn_changed.notify_all();
    }
    catch (...)
    {
        // Locking a healthy mutex does not fail; if it did, nobody could be woken anyway.
    }
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::record_failure(int code) noexcept
{
    try
    {
        std::lock_guard<std::mutex> lock(mutex);
        encoding_failed = true;
        if (failure_code == SZ_OK)
            failure_code = code != SZ_OK ? code : SZ_ERROR_FAIL;
    }
    catch (...)
    {
    }
}

template <class CharT, class Traits>
void basic_lzma_encoder<CharT, Traits>::release_sdk() noexcept
{
    if (!sdk->handle)
        return;
    LzmaEnc_Destroy(sdk->handle, &sdk->alloc, &sdk->alloc);
    sdk->handle = nullptr;
    try
    {
        std::lock_guard<std::mutex> lock(mutex);
        sdk_held = false;
    }
    catch (...)
    {
    }
}

template class basic_lzma_encoder<char>;
