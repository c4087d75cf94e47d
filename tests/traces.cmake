# Whole-program checks of corvanta-sim: its worlds and pictures against traces recorded by
# an independent implementation, repeatability, and its handling of bad input and output.
include(${CMAKE_CURRENT_LIST_DIR}/sim_checks.cmake)
if(NOT Python3_Interpreter_FOUND)
  return()
endif()

if(NOT CORVANTA_CROSS_TESTS)
  # Cheap enough for every tree, the sanitizer build included.
  add_test(NAME sim_same_arguments_same_files
    COMMAND ${Python3_EXECUTABLE} ${sim_checks} repeat $<TARGET_FILE:corvanta-sim> ${sim_work}/repeat)
  add_test(NAME sim_refuses_bad_arguments_and_paths
    COMMAND ${Python3_EXECUTABLE} ${sim_checks} errors $<TARGET_FILE:corvanta-sim> ${sim_work}/errors)
  set_tests_properties(sim_same_arguments_same_files PROPERTIES TIMEOUT 600 LABELS sim)
  set_tests_properties(sim_refuses_bad_arguments_and_paths PROPERTIES TIMEOUT 120 LABELS sim)
  add_test(NAME sim_check_keeps_invariants
    COMMAND ${Python3_EXECUTABLE} ${sim_checks} check $<TARGET_FILE:corvanta-sim> ${sim_work}/check)
  set_tests_properties(sim_check_keeps_invariants PROPERTIES TIMEOUT 300 LABELS sim)
endif()

# The reference traces of an independent implementation live beside the repository, in
# ../shared/traces. Thousands of frames hashed after each: an optimised build takes a
# minute or two, a sanitizer build hours, so they are registered in Release trees only.
# Without that folder they report themselves skipped.
set(trace_dir ${CMAKE_SOURCE_DIR}/../shared/traces)
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  return()
endif()

function(add_trace_test name reference timeout)
  add_test(NAME ${name}
    COMMAND ${Python3_EXECUTABLE} ${sim_checks} shared-trace $<TARGET_FILE:corvanta-sim> ${sim_work}/${name}
            ${trace_dir}/${reference} ${ARGN})
  corvanta_sim_test(${name} ${timeout} trace)
endfunction()

# On the 2-core development machine these take about 6 s, 5 s and 12 s.
add_trace_test(trace_seed12345_silence seed12345-silence.trace 300
  --frames 6000 --seed 12345 --spectrum silence)
add_trace_test(trace_seed15_noise seed15-noise.trace 300
  --frames 6000 --seed 15 --spectrum ${trace_dir}/noise.spec)
add_trace_test(trace_seed26_music_every100 seed26-music-every100.trace 900
  --frames 20000 --seed 26 --spectrum ${trace_dir}/music.spec --trace-every 100)
