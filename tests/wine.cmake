# The plug-in DLL under Wine: its export table, the test host's groups of cases,
# and the same world in the DLL as in corvanta-sim. Registered in the optimised
# native tree only; the DLL and the test host come from the windows preset's tree.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  return()
endif()

set(CORVANTA_WINDOWS_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/windows" CACHE PATH
    "Build tree of the windows preset that holds vis_corvanta.dll and the test host")
find_program(CORVANTA_OBJDUMP i686-w64-mingw32-objdump)
find_program(CORVANTA_WINE wine)
find_program(CORVANTA_WINESERVER wineserver)
find_program(CORVANTA_XVFB_RUN xvfb-run)

set(wine_dll "${CORVANTA_WINDOWS_BUILD_DIR}/vis_corvanta.dll")
set(wine_test_host "${CORVANTA_WINDOWS_BUILD_DIR}/tests/host/corvanta_test_host.exe")
set(wine_root "${CMAKE_CURRENT_BINARY_DIR}/wine")  # made by the wine_prefix fixture
set(wine_prefix "${wine_root}/prefix")

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

if(NOT CORVANTA_WINE OR NOT CORVANTA_WINESERVER OR NOT CORVANTA_XVFB_RUN)
  message(STATUS "Wine or xvfb-run not found: the plug-in's Wine tests are not registered")
  return()
endif()

# Quiet Wine, no offers to install .NET or a browser engine, one prefix per run.
set(wine_environment
    "WINEPREFIX=${wine_prefix}" "WINEARCH=win32" "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")
# A screen large enough for the frames the test host makes, in true colour so that
# readbacks return exactly the bytes drawn.
set(wine_run ${CORVANTA_XVFB_RUN} -a -s "-screen 0 1920x1200x24" ${CORVANTA_WINE}
             ${wine_test_host})

add_test(NAME wine_prefix
         COMMAND ${CMAKE_COMMAND} -DPREFIX=${wine_prefix} -DXVFB_RUN=${CORVANTA_XVFB_RUN}
                 -DWINE=${CORVANTA_WINE} -DWINESERVER=${CORVANTA_WINESERVER}
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/host/wine_prefix.cmake)
set_tests_properties(wine_prefix PROPERTIES
  FIXTURES_SETUP wine_prefix ENVIRONMENT "${wine_environment}" RESOURCE_LOCK wine TIMEOUT 300)

corvanta_wine_path(wine_dll_path "${wine_dll}")
# Each group gets a plug-in folder of its own; the working directory is another
# one, so that a settings file written there instead of beside the DLL shows.
foreach(group records lifecycle settings failures hostile)
  corvanta_wine_path(folder "${wine_root}/${group}")
  add_test(NAME wine_plugin_${group} COMMAND ${wine_run} ${wine_dll_path} ${folder} ${group})
  set_tests_properties(wine_plugin_${group} PROPERTIES
    WORKING_DIRECTORY "${wine_root}" FIXTURES_REQUIRED wine_prefix ENVIRONMENT "${wine_environment}"
    RESOURCE_LOCK wine TIMEOUT 180)
endforeach()

# The same world, each from the calendar's seed: silence; silence on a system whose
# SetDIBits keeps to the letter of its documentation; and a recorded piece of music
# when the shared traces are beside the repository.
if(TARGET corvanta-sim)
  function(add_same_world name spectrum_path frames)
    set(work "${wine_root}/${name}")
    corvanta_wine_path(work_wine "${work}")
    if(spectrum_path STREQUAL "silence")
      set(spectrum_wine silence)
    else()
      corvanta_wine_path(spectrum_wine "${spectrum_path}")
    endif()
    add_test(NAME wine_${name}
             COMMAND ${CMAKE_COMMAND} "-DRUN_HOST=${wine_run}" "-DHOST_ARGS=${wine_dll_path};${work_wine}\\plugins"
                     -DSIM=$<TARGET_FILE:corvanta-sim> -DSPECTRUM=${spectrum_path}
                     -DSPECTRUM_WINE=${spectrum_wine} -DFRAMES=${frames} -DWORK=${work} -DWORK_WINE=${work_wine}
                     ${ARGN} -P ${CMAKE_CURRENT_SOURCE_DIR}/host/same_world.cmake)
    set_tests_properties(wine_${name} PROPERTIES
      WORKING_DIRECTORY "${wine_root}" FIXTURES_REQUIRED wine_prefix ENVIRONMENT "${wine_environment}"
      RESOURCE_LOCK wine TIMEOUT 300)
  endfunction()

  add_same_world(same_world_silence silence 400)
  add_same_world(same_world_without_dib_section silence 400 -DNO_DIB_SECTION=1)
  set(music "${CMAKE_SOURCE_DIR}/../shared/traces/music.spec")
  if(EXISTS "${music}")
    get_filename_component(music_path "${music}" REALPATH)
    add_same_world(same_world_music "${music_path}" 1000)
  endif()
endif()
