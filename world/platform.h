#pragma once
// What the machine a build targets offers the world's word-parallel tricks. Each trick
// has an SSE2 form and a portable twin in plain C++ on 64-bit words that gives the same
// results bit for bit; the choice is made here, at compile time, and nowhere else.
//
//   CORVANTA_SSE2        1 on x86 with SSE2 (x86-64; 32-bit x86 built with -msse2), unless
//                        CORVANTA_PORTABLE forces the twins (the `portable` preset does, so
//                        that x86-64 tests them too); 0 on ARM, s390x and WebAssembly.
//   CORVANTA_WIDE_WORDS  1 where 64-bit arithmetic is native: 64-bit machines and
//                        WebAssembly, whose pointers are 32 bits but whose i64 operations
//                        are single instructions. 0 on 32-bit x86, which takes 64-bit
//                        words in 32-bit halves.
#include <cstdint>

#if defined(__SSE2__) && !defined(CORVANTA_PORTABLE)
#define CORVANTA_SSE2 1
#include <emmintrin.h>
#else
#define CORVANTA_SSE2 0
#endif

#if UINTPTR_MAX > 0xFFFFFFFFu || defined(__wasm__)
#define CORVANTA_WIDE_WORDS 1
#else
#define CORVANTA_WIDE_WORDS 0
#endif

// Floating point in the world is IEEE-754 single and double, each operation rounded on
// its own: every build passes -ffp-contract=off (no fused multiply-adds, which GCC
// otherwise forms on ARM and s390x), and 32-bit x86 uses the SSE unit, not the x87 stack.
#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "32-bit x86 builds of the world need -msse2 -mfpmath=sse for identical floating point"
#endif
#if defined(__FAST_MATH__)
#error "the world is not built with -ffast-math: it reorders and fuses operations"
#endif
