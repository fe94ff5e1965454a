// Whether the kernels may use SSE2: x86-64 always has it, and 32-bit x86
// builds are made with it. Elsewhere every kernel takes its scalar path.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define ORVIT_HAVE_SSE2 1
#endif
