// libFuzzer entry point for the archive reader and writer.
#include "tests/fuzz/zip_reader_fuzz.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!fuzzing::ZipReaderOneInput(data, size))
        abort(); // an archive we wrote did not read back as written
    return 0;
}
