# The MIDI player's pure logic: scanner, track reader, lyrics, preload file and instruments.
include(GoogleTest)
add_executable(test_midi
  ${CMAKE_CURRENT_SOURCE_DIR}/midi/test_scanner.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/midi/test_smftrack.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/midi/test_lyrics.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/midi/test_song_text.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/midi/test_preload_patches.cpp)
target_link_libraries(test_midi PRIVATE midi testsupport GTest::gtest_main)
gtest_discover_tests(test_midi)

# The scan and lyrics commands of orivelR-cli, called as functions.
add_executable(test_midi_commands ${CMAKE_CURRENT_SOURCE_DIR}/midi/test_midi_commands.cpp)
target_link_libraries(test_midi_commands PRIVATE cli midi testsupport GTest::gtest_main)
gtest_discover_tests(test_midi_commands)
