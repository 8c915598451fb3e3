# The karaoke room: lyric sources, the CD+G decoder, MP3+G songs, the singer's screen, and the
# lyrics --words and cdg commands of orivelR-cli.
include(GoogleTest)
pkg_check_modules(TEST_ARCHIVE REQUIRED IMPORTED_TARGET libarchive)
add_executable(test_karaoke
  ${CMAKE_CURRENT_SOURCE_DIR}/karaoke/test_karaoke.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/karaoke/test_cdg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/karaoke/test_song_package.cpp)
target_link_libraries(test_karaoke PRIVATE karaoke testsupport PkgConfig::TEST_ARCHIVE
                      GTest::gtest_main)
gtest_discover_tests(test_karaoke)

add_executable(test_karaoke_cli ${CMAKE_CURRENT_SOURCE_DIR}/karaoke/test_karaoke_cli.cpp)
target_link_libraries(test_karaoke_cli PRIVATE cli karaoke testsupport GTest::gtest_main)
gtest_discover_tests(test_karaoke_cli)
