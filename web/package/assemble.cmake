# The package's one JavaScript file: Emscripten's glue (which defines createCorvanta,
# the module's factory, and would export it) followed by the package's own API.
#   cmake -DGLUE=corvanta.js -DAPI=corvanta-web.js -DVERSION=1.0.0 -DOUT=index.js -P assemble.cmake
file(READ "${GLUE}" glue)
set(glue_export "export default createCorvanta;")
string(FIND "${glue}" "${glue_export}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${GLUE} does not end in '${glue_export}': was it linked with -sEXPORT_ES6?")
endif()
string(REPLACE "${glue_export}" "" glue "${glue}")
file(READ "${API}" api)
string(REPLACE "@CORVANTA_VERSION@" "${VERSION}" api "${api}")
file(WRITE "${OUT}" "// corvanta-web ${VERSION}: Emscripten's glue for the module, then the package's API.\n${glue}\n${api}")
