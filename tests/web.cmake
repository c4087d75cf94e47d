# The web page in headless Chromium (CTest label "web"; the minute-long speed run is
# "speed", left out of the default runs). The page is built by its own preset
# (cmake --preset web && cmake --build --preset web); these tests, registered in the
# native trees beside corvanta-sim, compare it with corvanta-sim. Where Node.js,
# Chromium, playwright-core or the built page is missing they report themselves skipped.
find_program(NODE_EXECUTABLE node)
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  return()
endif()

# The page's server (tools/web.sh serves with it): a few requests, no browser, so it
# runs with the release tests (CTest label "web-server").
if(NODE_EXECUTABLE)
  add_test(NAME web_server_answers_bad_requests COMMAND ${NODE_EXECUTABLE} ${PROJECT_SOURCE_DIR}/web/tests/serve_tests.mjs)
else()
  add_test(NAME web_server_answers_bad_requests
    COMMAND ${CMAKE_COMMAND} -E echo "serve_tests: skipped: node not found (tools/install-deps.sh web installs it)")
endif()
set_tests_properties(web_server_answers_bad_requests PROPERTIES TIMEOUT 60 LABELS web-server
  SKIP_REGULAR_EXPRESSION "serve_tests: skipped")
if(NOT NODE_EXECUTABLE OR NOT TARGET play_make_track)
  message(STATUS "node or the audio module missing: the web page's tests are not registered")
  return()
endif()
set(CORVANTA_WEB_SITE ${PROJECT_SOURCE_DIR}/build/web/site CACHE PATH "The built web page the web tests open")
set(CORVANTA_WEB_BUILD ${PROJECT_SOURCE_DIR}/build/web CACHE PATH "The web build whose corvanta-web tarball the package's tests install")

function(add_web_test name timeout label)
  add_test(NAME web_${name}
    COMMAND ${NODE_EXECUTABLE} ${PROJECT_SOURCE_DIR}/web/tests/web_tests.mjs ${name}
            --site ${CORVANTA_WEB_SITE} --sim $<TARGET_FILE:corvanta-sim> --make-track $<TARGET_FILE:play_make_track>
            --work ${CMAKE_CURRENT_BINARY_DIR}/web-checks/${name} --traces ${PROJECT_SOURCE_DIR}/../shared/traces)
  # Each opens its own browser; run one at a time so the audio clock's checks are not
  # starved by the others.
  set_tests_properties(web_${name} PROPERTIES TIMEOUT ${timeout} LABELS ${label} RUN_SERIAL ON
    SKIP_REGULAR_EXPRESSION "web_tests: skipped")
endfunction()

add_web_test(loads 120 web)
add_web_test(spectrum 300 web)
add_web_test(file 180 web)
add_web_test(flac 120 web)
add_web_test(capture 120 web)
add_web_test(refusals 120 web)
add_web_test(speed 300 speed)

# The corvanta-web package as a stranger installs it (the tarball, offline, into a fresh
# folder): its worlds, its clock, its memory over a hundred visualizers, its refusals;
# the README's examples through the pinned esbuild and tsc.
function(add_package_test name timeout)
  add_test(NAME web_package_${name}
    COMMAND ${NODE_EXECUTABLE} ${PROJECT_SOURCE_DIR}/web/tests/package_tests.mjs ${name}
            --built ${CORVANTA_WEB_BUILD} --sim $<TARGET_FILE:corvanta-sim> --make-track $<TARGET_FILE:play_make_track>
            --work ${CMAKE_CURRENT_BINARY_DIR}/web-checks/package_${name})
  set_tests_properties(web_package_${name} PROPERTIES TIMEOUT ${timeout} LABELS web RUN_SERIAL ON
    SKIP_REGULAR_EXPRESSION "web_tests: skipped")
endfunction()

add_package_test(installed 180)
add_package_test(cycles 240)
add_package_test(refusals 120)
add_package_test(bundle 120)
