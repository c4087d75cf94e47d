# The audio spectrum module and corvanta-play (CTest label "play"). Only where the audio
# libraries were found; the player's tests also need xvfb-run for a display.
if(NOT TARGET corvanta_audio)
  return()
endif()

add_library(play_signals STATIC ${CMAKE_CURRENT_SOURCE_DIR}/play/signals.cpp)
target_include_directories(play_signals PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/play)
target_link_libraries(play_signals PUBLIC corvanta_audio)

# Writes a music-like WAV of any length, for trying and measuring the player.
add_executable(play_make_track ${CMAKE_CURRENT_SOURCE_DIR}/play/make_track.cpp)
target_link_libraries(play_make_track PRIVATE play_signals)

add_executable(test_audio_spectrum ${CMAKE_CURRENT_SOURCE_DIR}/play/test_audio_spectrum.cpp)
target_link_libraries(test_audio_spectrum PRIVATE play_signals GTest::gtest_main)
gtest_discover_tests(test_audio_spectrum DISCOVERY_TIMEOUT 120 PROPERTIES LABELS play)

# corvanta-sim --audio and --video. The compressed videos are read back with FFmpeg's
# own tools; without them, or in a build without FFmpeg's libraries, those cases skip.
find_program(FFMPEG_PATH ffmpeg)
find_program(FFPROBE_PATH ffprobe)
add_executable(test_sim_audio_video ${CMAKE_CURRENT_SOURCE_DIR}/play/test_sim_audio_video.cpp
  ${PROJECT_SOURCE_DIR}/tools/y4m_video.cpp)
target_link_libraries(test_sim_audio_video PRIVATE play_signals GTest::gtest_main)
target_compile_definitions(test_sim_audio_video PRIVATE CORVANTA_SIM_PATH="$<TARGET_FILE:corvanta-sim>"
  FFMPEG_PATH="$<$<BOOL:${FFMPEG_PATH}>:${FFMPEG_PATH}>" FFPROBE_PATH="$<$<BOOL:${FFPROBE_PATH}>:${FFPROBE_PATH}>"
  SIM_HAS_FFMPEG=$<BOOL:${FFMPEG_FOUND}>)
add_dependencies(test_sim_audio_video corvanta-sim)
gtest_discover_tests(test_sim_audio_video DISCOVERY_TIMEOUT 120 PROPERTIES LABELS play TIMEOUT 300)

find_program(XVFB_RUN xvfb-run)
if(TARGET corvanta-play AND XVFB_RUN)
  find_package(PNG REQUIRED)
  add_executable(test_corvanta_play ${CMAKE_CURRENT_SOURCE_DIR}/play/test_corvanta_play.cpp)
  target_link_libraries(test_corvanta_play PRIVATE play_signals GTest::gtest_main PNG::PNG)
  target_compile_definitions(test_corvanta_play PRIVATE
    CORVANTA_PLAY_PATH="$<TARGET_FILE:corvanta-play>"
    CORVANTA_SIM_PATH="$<TARGET_FILE:corvanta-sim>"
    XVFB_RUN_PATH="${XVFB_RUN}")
  # A PulseAudio server of the test's own, for capture as a desktop user has it; without
  # one the test skips.
  find_program(PULSEAUDIO_PATH pulseaudio)
  find_program(PAPLAY_PATH paplay)
  target_compile_definitions(test_corvanta_play PRIVATE
    PULSEAUDIO_PATH="$<$<BOOL:${PULSEAUDIO_PATH}>:${PULSEAUDIO_PATH}>"
    PAPLAY_PATH="$<$<BOOL:${PAPLAY_PATH}>:${PAPLAY_PATH}>")
  add_dependencies(test_corvanta_play corvanta-play corvanta-sim)
  gtest_discover_tests(test_corvanta_play DISCOVERY_TIMEOUT 120 PROPERTIES LABELS play TIMEOUT 300)
elseif(TARGET corvanta-play)
  message(STATUS "xvfb-run not found: corvanta-play's window tests skipped")
endif()
