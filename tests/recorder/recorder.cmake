# The recorder: WavePlayer on its own, and takes recorded through the private sound server.
include(GoogleTest)
add_executable(test_waveplayer ${CMAKE_CURRENT_SOURCE_DIR}/recorder/test_waveplayer.cpp)
target_link_libraries(test_waveplayer PRIVATE recorder testsupport GTest::gtest_main)
gtest_discover_tests(test_waveplayer)

add_executable(test_recorder_sound ${CMAKE_CURRENT_SOURCE_DIR}/recorder/test_recorder_sound.cpp)
target_link_libraries(test_recorder_sound PRIVATE recorder_mixer testsupport GTest::gtest_main)
target_compile_definitions(test_recorder_sound PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_recorder_sound orivelR-cli)
gtest_discover_tests(test_recorder_sound PROPERTIES LABELS sound RESOURCE_LOCK sound_server)

orivelr_window_test(test_recorder_window recorder/test_recorder_window.cpp REAL_SOUND)

add_executable(test_latency_probe ${CMAKE_CURRENT_SOURCE_DIR}/recorder/test_latency_probe.cpp)
target_link_libraries(test_latency_probe PRIVATE recorder testsupport GTest::gtest_main)
gtest_discover_tests(test_latency_probe PROPERTIES LABELS sound RESOURCE_LOCK sound_server)

add_executable(test_take_score ${CMAKE_CURRENT_SOURCE_DIR}/recorder/test_take_score.cpp)
target_include_directories(test_take_score PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/singing)
target_link_libraries(test_take_score PRIVATE recorder testsupport GTest::gtest_main)
gtest_discover_tests(test_take_score)

add_executable(test_live_pitch ${CMAKE_CURRENT_SOURCE_DIR}/recorder/test_live_pitch.cpp)
target_link_libraries(test_live_pitch PRIVATE recorder testsupport GTest::gtest_main)
gtest_discover_tests(test_live_pitch PROPERTIES LABELS sound RESOURCE_LOCK sound_server)
