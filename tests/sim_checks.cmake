# What the whole-program checks of corvanta-sim share (tests/sim_checks.py drives them):
# the python interpreter, the script, their work folder, and corvanta_sim_test, which
# registers a test with its labels and, in a cross tree, the emulator that runs it.
include_guard(GLOBAL)

find_package(Python3 COMPONENTS Interpreter QUIET)
if(NOT Python3_Interpreter_FOUND)
  message(WARNING "python3 not found: corvanta-sim's whole-program tests are not registered")
endif()

set(sim_checks ${CMAKE_CURRENT_LIST_DIR}/sim_checks.py)
set(sim_work ${CMAKE_CURRENT_BINARY_DIR}/sim-checks)

# A cross tree (aarch64, s390x, WebAssembly) runs its corvanta-sim under the toolchain's
# emulator and registers only the world's traces, each labelled cross as well.
set(sim_labels "")
set(sim_environment "")
if(CORVANTA_CROSS_TESTS)
  set(sim_labels cross)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " sim_runner)
  set(sim_environment "CORVANTA_SIM_RUNNER=${sim_runner}")
endif()

# Registers whole-program test NAME with the labels given and the cross tree's runner.
# (Tests run python3 by its path: CMake would put the emulator before an imported target.)
function(corvanta_sim_test name timeout)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout} LABELS "${ARGN};${sim_labels}"
    ENVIRONMENT "${sim_environment}" SKIP_REGULAR_EXPRESSION "sim_checks: skipped")
endfunction()
