# Runs the plug-in under Wine for FRAMES frames, reading back the display window
# after each, then corvanta-sim for the same seed and spectrum, and compares the
# picture digests frame by frame: the DLL and the Linux build must draw the same
# world, byte for byte.
#   cmake -DRUN_HOST=<command list> -DHOST_ARGS=<dll;folder> -DSIM=corvanta-sim
#         -DSPECTRUM=<unix path|silence> -DSPECTRUM_WINE=<wine path|silence>
#         -DFRAMES=N -DWORK=<dir> -DWORK_WINE=<wine path of dir> [-DNO_DIB_SECTION=1]
#         [-DTWIN=1] [-DSCREEN_ONLY=1] -P same_world.cmake
# The DLL seeds its world from the calendar second of its first frame; the test host
# writes that second to the first line of its digests as "seed N", and corvanta-sim
# is given the same seed. NO_DIB_SECTION makes the DLL's CreateDIBSection fail, and
# its SetDIBits refuse a bitmap still in a context. TWIN runs a second copy of the DLL
# so refused beside the first, and the test host holds the two windows equal pixel
# for pixel. SCREEN_ONLY leaves corvanta-sim out: on a screen of fewer than 24 bits
# a pixel keeps only some bits of each colour, so only the two copies can be compared.
file(MAKE_DIRECTORY "${WORK}")
set(digests "${WORK}/digests.txt")
set(trace "${WORK}/sim.trace")
file(REMOVE "${digests}" "${trace}")

set(options "")
if(NO_DIB_SECTION)
  list(APPEND options no-dib-section)
endif()
if(TWIN)
  list(APPEND options twin)
endif()
execute_process(
  COMMAND ${RUN_HOST} ${HOST_ARGS} world "${SPECTRUM_WINE}" ${FRAMES} "${WORK_WINE}\\digests.txt" ${options}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the test host failed (${result})")
endif()

file(STRINGS "${digests}" dll_lines)
list(POP_FRONT dll_lines seed_line)
if(NOT seed_line MATCHES "^seed ([0-9]+)$")
  message(FATAL_ERROR "no seed in ${digests}")
endif()
set(seed ${CMAKE_MATCH_1})
list(LENGTH dll_lines dll_count)
if(SCREEN_ONLY)
  if(NOT dll_count EQUAL FRAMES)
    message(FATAL_ERROR "${dll_count} frames from the DLL, expected ${FRAMES}")
  endif()
  message(STATUS "seed ${seed}: ${FRAMES} pictures the same with and without the DIB section")
  return()
endif()

execute_process(
  COMMAND "${SIM}" --frames ${FRAMES} --seed ${seed} --spectrum "${SPECTRUM}" --trace "${trace}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "corvanta-sim failed (${result})")
endif()

# Trace lines: frame_count population world_digest picture_digest.
file(STRINGS "${trace}" sim_lines)
list(LENGTH sim_lines sim_count)
if(NOT dll_count EQUAL FRAMES OR NOT sim_count EQUAL FRAMES)
  message(FATAL_ERROR "${dll_count} frames from the DLL and ${sim_count} from corvanta-sim, expected ${FRAMES}")
endif()
math(EXPR last "${FRAMES} - 1")
foreach(i RANGE ${last})
  list(GET dll_lines ${i} dll_line)
  list(GET sim_lines ${i} sim_line)
  string(REGEX REPLACE "^([0-9]+) [0-9]+ [0-9a-f]+ ([0-9a-f]+)$" "\\1 \\2" sim_picture "${sim_line}")
  if(NOT dll_line STREQUAL sim_picture)
    math(EXPR frame "${i} + 1")
    message(FATAL_ERROR "seed ${seed}: the pictures part at frame ${frame}: DLL '${dll_line}', corvanta-sim '${sim_line}'")
  endif()
endforeach()
message(STATUS "seed ${seed}: ${FRAMES} pictures the same in the DLL and corvanta-sim")
