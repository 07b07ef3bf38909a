// The vector forms a fuzz run exercises. A processor runs only the widest
// form it has; so that the narrower ones are fuzzed too, PW_FUZZ_WIDEST
// limits the choice to avx2 or sse4. Unset, the processor's own is used.
#pragma once

#include <hwy/targets.h>

#include <cstdlib>
#include <cstring>

inline void LimitInstructionSets()
{
    const char* widest = std::getenv("PW_FUZZ_WIDEST");
    if (!widest)
        return;
    const int64_t aboveAVX2 = HWY_AVX3 | HWY_AVX3_DL;
    if (std::strcmp(widest, "avx2") == 0)
        hwy::DisableTargets(aboveAVX2);
    else if (std::strcmp(widest, "sse4") == 0)
        hwy::DisableTargets(aboveAVX2 | HWY_AVX2);
    else
        std::abort(); // a misspelt name would fuzz the wrong forms unnoticed
}
