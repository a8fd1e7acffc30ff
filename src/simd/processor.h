// What the processor running the code can do, asked once per process: the
// one probe every choice between the V128 and V256 forms goes through.
#pragma once

namespace pennaro::simd {

// Whether the processor runs AVX2 instructions. Code built for V256 exists
// only where simd/vectors.h sets PENNARO_HAVE_AVX2; this says whether it
// may run.
bool processorHasAvx2();

}  // namespace pennaro::simd
