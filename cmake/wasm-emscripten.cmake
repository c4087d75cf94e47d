# WebAssembly with Debian's Emscripten, for Node.js: Emscripten's own toolchain file,
# plus what Debian's 3.1.6 needs beside Node.js 18 and later.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
# NODERAWFS's loader would fetch() the .wasm file by its path, which Node 18 and later
# refuse (ERR_INVALID_URL); without fetch it reads the file.
set(CMAKE_CROSSCOMPILING_EMULATOR node --no-experimental-fetch CACHE STRING "Runs the build's programs" FORCE)
