# The player's procedures and the vocal remover.
include(GoogleTest)
add_executable(test_player ${CMAKE_CURRENT_SOURCE_DIR}/player/test_player.cpp)
target_link_libraries(test_player PRIVATE player testsupport GTest::gtest_main)
gtest_discover_tests(test_player)
