#pragma once
// ZIP method 14 (LZMA), encoding side, over the LZMA SDK.
//
// The SDK's encoder pulls its input through a read callback and runs to the end of the data
// in one call, while our callers push blocks through encode_next. So the SDK runs on a thread
// of its own, and the caller writes straight into the buffer the SDK offers in its read
// callback. The two sides take turns under one mutex and one condition variable; turn
// counters and a finished flag make sure that no wait outlives the other side.
//
// Output: the bytes 09 16 05 00, the SDK's 5 property bytes, then the LZMA stream without an
// end marker. One encoder encodes one stream in its lifetime.
//
// Memory: the SDK's encoder state with its match finder and dictionary (tens of MB at the
// default level) is destroyed by the encoder thread as soon as the SDK has finished, with
// success or not, so that an encoder whose stream has ended holds only its counters.
#include "zip/compression_interface.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_lzma_encoder : public compression_encoder_interface_basic<CharT, Traits>
{
public:
    using ostream_type = typename compression_encoder_interface_basic<CharT, Traits>::ostream_type;

    // Creates the SDK's encoder state; throws std::bad_alloc when that fails.
    basic_lzma_encoder();
    // Ends the data if nobody did, then waits for the encoder thread.
    ~basic_lzma_encoder() override;
    basic_lzma_encoder(const basic_lzma_encoder&) = delete;
    basic_lzma_encoder& operator=(const basic_lzma_encoder&) = delete;

    bool is_initialized() const override;
    size_t get_bytes_read() const override;
    size_t get_bytes_written() const override;
    // The block the SDK asked for last; empty (null) before init, after the end of the data
    // and once the encoder thread has stopped.
    CharT* get_buffer_begin() override;
    CharT* get_buffer_end() override;
    // True when the SDK did not finish with success, the thread could not start, or writing
    // the output failed.
    bool failed() const override;
    // The SDK's result (SRes) for the first failure; 0 when none. Besides what the SDK itself
    // returns, the encoder reports with the SDK's own codes:
    //   SZ_ERROR_PARAM  the SDK refused the settings (LzmaEnc_SetProps, LzmaEnc_WriteProperties)
    //   SZ_ERROR_WRITE  the output stream refused the header or compressed bytes, or threw
    //   SZ_ERROR_READ   the hand-over of a block failed (an exception on the encoder thread)
    //   SZ_ERROR_THREAD the encoder thread could not be started
    int library_result() const override;
    // Whether the SDK's encoder state (match finder, dictionary) is still held.
    bool holds_working_memory() const;

    // Writes the 9 header bytes and starts the encoder thread. A second call on the same
    // encoder throws std::logic_error.
    void init(ostream_type& stream, compression_encoder_properties_interface& properties) override;
    void init_with_defaults(ostream_type& stream) override;
    void encode_next(size_t length) override;
    // Ends the data if that has not happened yet, then waits until all output is written.
    void sync() override;

private:
    struct sdk_state; // the SDK's handle, allocator and callback tables

    // Encoder side, called from the SDK on the encoder thread.
    int read_input(void* buffer, size_t* size) noexcept;
    size_t write_output(const void* data, size_t size) noexcept;
    void encoder_thread_main() noexcept;

    void start_encoding();
    void end_data();
    // An exception or error on either side ends up here, to be reported by failed() and
    // library_result(); the first code recorded stays.
    void record_failure(int code) noexcept;
    void release_sdk() noexcept;

    std::unique_ptr<sdk_state> sdk;

    // Guarded by mutex: the hand-over between the caller and the encoder side.
    mutable std::mutex mutex;
    std::condition_variable turn_changed;
    unsigned char* block = nullptr;
    size_t block_size = 0;
    size_t bytes_taken = 0;
    bool data_ended = false;
    uint64_t encoder_turns = 0; // blocks published by the encoder side
    uint64_t caller_turns = 0;  // blocks handed over by the caller
    bool thread_finished = false;
    bool encoding_failed = false;
    int failure_code = 0;
    bool sdk_held = true; // the SDK's encoder state exists

    ostream_type* output = nullptr;
    std::atomic<size_t> bytes_written{0};
    bool started = false;
    std::thread worker;
};

extern template class basic_lzma_encoder<char>;
using lzma_encoder = basic_lzma_encoder<char>;
