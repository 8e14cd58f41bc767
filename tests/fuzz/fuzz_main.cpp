// libFuzzer entry point of one fuzz target, chosen by name when the program is built.
#include "tests/fuzz/fuzz_targets.h"

#include <cstdio>
#include <cstdlib>

#ifndef PELLUCOR_FUZZ_TARGET
#error "PELLUCOR_FUZZ_TARGET names the target this program runs"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzzing::FuzzTarget* target = fuzzing::FindFuzzTarget(PELLUCOR_FUZZ_TARGET);
    if (!target)
    {
        std::fprintf(stderr, "no fuzz target named %s\n", PELLUCOR_FUZZ_TARGET);
        std::abort();
    }
    // The target has said on stderr which check failed; the abort makes the input a finding.
    if (!target->run(data, size))
        std::abort();
    return 0;
}
