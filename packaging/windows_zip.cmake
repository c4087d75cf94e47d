# Packs the Windows download: cmake -DDLL=... -DTEXTS=DIR -DNAME=corvanta-VERSION-windows
#   -DZIP=OUT.zip -P windows_zip.cmake
# The zip holds one folder, NAME, with the plug-in DLL and the texts in TEXTS
# (README.txt, LICENSE.txt).
foreach(argument DLL TEXTS NAME ZIP)
  if(NOT DEFINED ${argument})
    message(FATAL_ERROR "windows_zip.cmake: -D${argument}=... is missing")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "No plug-in DLL at ${DLL}: build the windows preset first "
                      "(cmake --preset windows && cmake --build --preset windows), or set CORVANTA_WINDOWS_DLL")
endif()
get_filename_component(zip_dir "${ZIP}" DIRECTORY)
set(stage "${zip_dir}/${NAME}")
file(REMOVE_RECURSE "${stage}" "${ZIP}")
file(COPY "${DLL}" "${TEXTS}/README.txt" "${TEXTS}/LICENSE.txt" DESTINATION "${stage}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}" --format=zip -- "${NAME}"
                WORKING_DIRECTORY "${zip_dir}" RESULT_VARIABLE failed)
file(REMOVE_RECURSE "${stage}")
if(failed)
  message(FATAL_ERROR "windows_zip.cmake: packing ${ZIP} failed")
endif()
