# Makes a fresh Wine prefix for one test run: the first start of Wine in a prefix
# takes half a minute, every later one a second or so. With no window manager on
# the virtual display, Wine must not leave window placement to one, or every
# window that closes waits for an answer that never comes.
#   cmake -DPREFIX=DIR -DXVFB_RUN=... -DWINE=... -DWINESERVER=... -P wine_prefix.cmake
file(REMOVE_RECURSE "${PREFIX}")
get_filename_component(parent "${PREFIX}" DIRECTORY)
file(MAKE_DIRECTORY "${parent}")
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEARCH} win32)
execute_process(
  COMMAND "${XVFB_RUN}" -a sh -c
          "\"$1\" wineboot --init && \"$1\" reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /t REG_SZ /d N /f && \"$2\" -w"
          sh "${WINE}" "${WINESERVER}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "making the Wine prefix ${PREFIX} failed (${result})")
endif()
