# The plug-in DLL under Wine: its export table, the test host's groups of cases,
# and the same world in the DLL as in corvanta-sim. Registered in the optimised
# native tree only; the DLL and the test host come from the windows preset's tree.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  return()
endif()

set(CORVANTA_WINDOWS_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/windows" CACHE PATH
    "Build tree of the windows preset that holds vis_corvanta.dll and the test host")
find_program(CORVANTA_OBJDUMP i686-w64-mingw32-objdump)

set(wine_dll "${CORVANTA_WINDOWS_BUILD_DIR}/vis_corvanta.dll")
set(wine_test_host "${CORVANTA_WINDOWS_BUILD_DIR}/tests/host/corvanta_test_host.exe")
set(wine_root "${CMAKE_CURRENT_BINARY_DIR}/wine")
set(wine_prefix "${wine_root}/prefix")  # made by the wine_machine fixture when Wine runs here
set(wine_decision "${wine_root}/machine")

# Wine sees the Unix root as drive Z:.
function(corvanta_wine_path out unix_path)
  string(REPLACE "/" "\\" windows_path "${unix_path}")
  set(${out} "Z:${windows_path}" PARENT_SCOPE)
endfunction()

if(CORVANTA_OBJDUMP)
  add_test(NAME wine_dll_exports
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CORVANTA_OBJDUMP} -DDLL=${wine_dll}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/host/check_exports.cmake)
endif()

# Where this machine cannot run Wine's 32-bit programs (a kernel without 32-bit
# support, or no Wine installed), the tests run in an emulated machine whose image is
# kept here between runs. CORVANTA_WINE_MACHINE=native|emulated in the environment
# forces one way.
if("$ENV{CORVANTA_GUEST_CACHE}" STREQUAL "")
  if("$ENV{HOME}" STREQUAL "" OR "$ENV{HOME}" STREQUAL "/root")
    set(guest_cache_default /var/cache/corvanta-guest)
  else()
    set(guest_cache_default "$ENV{HOME}/.cache/corvanta-guest")
  endif()
else()
  set(guest_cache_default "$ENV{CORVANTA_GUEST_CACHE}")
endif()
set(CORVANTA_GUEST_CACHE "${guest_cache_default}" CACHE PATH
    "Where the emulated machine for the Wine tests is kept between runs")
set(guest_dir ${CMAKE_CURRENT_SOURCE_DIR}/guest)
# The emulated machine sees these host folders at their own paths.
set(guest_shares "${CMAKE_SOURCE_DIR}")
foreach(folder "${CORVANTA_WINDOWS_BUILD_DIR}" "${CMAKE_BINARY_DIR}")
  string(FIND "${folder}/" "${CMAKE_SOURCE_DIR}/" inside)
  if(NOT inside EQUAL 0)
    string(APPEND guest_shares ":${folder}")
  endif()
endforeach()

# Quiet Wine, no offers to install .NET or a browser engine, one prefix per run.
set(wine_environment
    "WINEPREFIX=${wine_prefix}" "WINEARCH=win32" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml="
    "CORVANTA_GUEST_SHARES=${guest_shares}")
# A screen large enough for the frames the test host makes, in true colour so that
# readbacks return exactly the bytes drawn. The commands are looked up where they run.
set(wine_run ${guest_dir}/wine_run.sh ${wine_decision} --
             xvfb-run -a -s "-screen 0 1920x1200x24" ${guest_dir}/wine_local.sh ${wine_test_host})
# The same on a 16-bit screen (5, 6 and 5 bits of red, green and blue).
set(wine_run_16 ${guest_dir}/wine_run.sh ${wine_decision} --
                xvfb-run -a -s "-screen 0 1920x1200x16" ${guest_dir}/wine_local.sh ${wine_test_host})
set(wine_skip "corvanta-wine: skipped")

add_test(NAME wine_machine
         COMMAND ${guest_dir}/wine_machine.sh ${wine_decision} ${wine_prefix} ${CORVANTA_GUEST_CACHE})
set_tests_properties(wine_machine PROPERTIES
  FIXTURES_SETUP wine_machine ENVIRONMENT "${wine_environment}" RESOURCE_LOCK wine TIMEOUT 1800
  LABELS wine SKIP_REGULAR_EXPRESSION "${wine_skip}")

corvanta_wine_path(wine_dll_path "${wine_dll}")
# Each group gets a plug-in folder of its own; the working directory is another
# one, so that a settings file written there instead of beside the DLL shows.
foreach(group records lifecycle settings failures hostile)
  corvanta_wine_path(folder "${wine_root}/${group}")
  add_test(NAME wine_plugin_${group} COMMAND ${wine_run} ${wine_dll_path} ${folder} ${group})
  set_tests_properties(wine_plugin_${group} PROPERTIES
    WORKING_DIRECTORY "${wine_root}" FIXTURES_REQUIRED wine_machine ENVIRONMENT "${wine_environment}"
    RESOURCE_LOCK wine TIMEOUT 600 LABELS wine SKIP_REGULAR_EXPRESSION "${wine_skip}")
endforeach()

# The same world, each from the calendar's seed: silence; silence on a system without
# DIB sections whose SetDIBits keeps to the letter of its documentation; a recorded
# piece of music from tests/data; and on a 16-bit screen, the music with and without
# the DIB section side by side, its first 69 drawn frames (a 16-bit screen cannot
# show corvanta-sim's colours, so there only the two ways are compared).
if(TARGET corvanta-sim)
  function(add_same_world name run spectrum_path frames)
    set(work "${wine_root}/${name}")
    corvanta_wine_path(work_wine "${work}")
    if(spectrum_path STREQUAL "silence")
      set(spectrum_wine silence)
    else()
      corvanta_wine_path(spectrum_wine "${spectrum_path}")
    endif()
    add_test(NAME wine_${name}
             COMMAND ${CMAKE_COMMAND} "-DRUN_HOST=${run}" "-DHOST_ARGS=${wine_dll_path};${work_wine}\\plugins"
                     -DSIM=$<TARGET_FILE:corvanta-sim> -DSPECTRUM=${spectrum_path}
                     -DSPECTRUM_WINE=${spectrum_wine} -DFRAMES=${frames} -DWORK=${work} -DWORK_WINE=${work_wine}
                     ${ARGN} -P ${CMAKE_CURRENT_SOURCE_DIR}/host/same_world.cmake)
    set_tests_properties(wine_${name} PROPERTIES
      WORKING_DIRECTORY "${wine_root}" FIXTURES_REQUIRED wine_machine ENVIRONMENT "${wine_environment}"
      RESOURCE_LOCK wine TIMEOUT 900 LABELS wine SKIP_REGULAR_EXPRESSION "${wine_skip}")
  endfunction()

  set(music "${CMAKE_CURRENT_SOURCE_DIR}/data/music.spectra")
  add_same_world(same_world_silence "${wine_run}" silence 400)
  add_same_world(same_world_without_dib_section "${wine_run}" silence 400 -DNO_DIB_SECTION=1)
  add_same_world(same_world_music "${wine_run}" "${music}" 1000)
  add_same_world(same_world_16bpp "${wine_run_16}" "${music}" 220 -DTWIN=1 -DSCREEN_ONLY=1)
endif()
