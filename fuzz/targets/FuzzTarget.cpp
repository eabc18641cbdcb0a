// The libFuzzer entry point of one harness; HARVIX_FUZZ_HARNESS names it
// (one executable per harness, see fuzz/CMakeLists.txt).
#include <cstddef>
#include <cstdint>

#include "FuzzHarness.h"

using namespace harvix;

#ifndef HARVIX_FUZZ_HARNESS
#error "HARVIX_FUZZ_HARNESS must name the harness"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // One scratch folder for the life of the process, emptied by each run.
    static const fuzzing::ScratchFolder scratch;
    fuzzing::runHarness(HARVIX_FUZZ_HARNESS, data, size, scratch.path());
    return 0;
}
