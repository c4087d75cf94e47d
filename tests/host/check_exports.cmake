# The player finds the plug-in by one undecorated export, and the DLL must load on
# a bare Windows: exactly that export, and imports from system DLLs alone.
#   cmake -DOBJDUMP=i686-w64-mingw32-objdump -DDLL=vis_corvanta.dll -P check_exports.cmake
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "${DLL} is missing: build the windows preset first")
endif()
execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed (${result})")
endif()

# Both counts of the export directory, then the names themselves ("[   0] name"
# lines up to the blank line that ends the table).
if(NOT dump MATCHES "Export Address Table[ \t]+00000001\n[ \t]*\\[Name Pointer/Ordinal\\] Table[ \t]+00000001\n")
  message(FATAL_ERROR "the export directory of ${DLL} does not hold exactly one entry")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([ \t]+\\[[^\n]*\n)*" table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" exports "${table}")
if(NOT exports MATCHES "^\\[ *0\\] winampVisGetHeader$")
  message(FATAL_ERROR "exported names are '${exports}', expected winampVisGetHeader alone")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no import table found in ${DLL}")
endif()
foreach(entry ${imports})
  string(REPLACE "DLL Name: " "" name "${entry}")
  string(TOUPPER "${name}" upper)
  if(NOT upper MATCHES "^(KERNEL32|USER32|GDI32|MSVCRT)\\.DLL$")
    message(FATAL_ERROR "${DLL} imports from ${name}; only KERNEL32, USER32, GDI32 and msvcrt are allowed")
  endif()
endforeach()
message(STATUS "exports: winampVisGetHeader; imports: ${imports}")
