# The loudness of songs, against ffmpeg's ebur128 filter and the command-line MIDI renderer.
include(GoogleTest)
add_executable(test_loudness ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_loudness.cpp)
target_link_libraries(test_loudness PRIVATE audiolib testsupport GTest::gtest_main)
target_compile_definitions(test_loudness PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_loudness orivelR-cli)
gtest_discover_tests(test_loudness PROPERTIES LABELS engine ENVIRONMENT ${ORIVELR_TEST_ENV})
