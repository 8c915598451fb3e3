# The players' procedures: the audio player with the vocal remover, and the MIDI player.
include(GoogleTest)
add_executable(test_player ${CMAKE_CURRENT_SOURCE_DIR}/player/test_player.cpp)
target_link_libraries(test_player PRIVATE player testsupport GTest::gtest_main)
gtest_discover_tests(test_player)
# The MIDI player on the real sequencer, rendered offline.
add_executable(test_midi_player ${CMAKE_CURRENT_SOURCE_DIR}/player/test_midi_player.cpp)
target_link_libraries(test_midi_player PRIVATE player testsupport GTest::gtest_main)
gtest_discover_tests(test_midi_player PROPERTIES ENVIRONMENT "${ORIVELR_TEST_ENV}")
