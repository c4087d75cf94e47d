# WebAssembly with Debian's Emscripten, for Node.js: Emscripten's own toolchain file,
# plus what Debian's 3.1.6 needs beside Node.js 18 and later.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
# The world's SSE2 tricks compile onto WebAssembly SIMD through Emscripten's SSE2
# headers (Node.js 16 and every current browser run it): 10 to 20 % faster than the
# portable twins here. Bulk memory makes memcpy and memset single instructions; the
# saturating float-to-int conversions drop the range checks that trapping ones need
# (to_int32 handles out-of-range values itself, so results are the same).
set(CMAKE_CXX_FLAGS_INIT "-msimd128 -msse2 -mbulk-memory -mnontrapping-fptoint")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-msimd128 -mbulk-memory -mnontrapping-fptoint")
# NODERAWFS's loader would fetch() the .wasm file by its path, which Node 18 and later
# refuse (ERR_INVALID_URL); without fetch it reads the file.
set(CMAKE_CROSSCOMPILING_EMULATOR node --no-experimental-fetch CACHE STRING "Runs the build's programs" FORCE)
