# The command-line programs, run as programs.
include(GoogleTest)
add_executable(test_cli ${CMAKE_CURRENT_SOURCE_DIR}/tools/test_cli.cpp)
target_link_libraries(test_cli PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(test_cli PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_cli orivelR-cli)
gtest_discover_tests(test_cli)

add_executable(test_sound ${CMAKE_CURRENT_SOURCE_DIR}/tools/test_sound.cpp)
target_link_libraries(test_sound PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(test_sound PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_sound orivelR-cli)
# Needs the private sound server of ./test.sh; its cases take the one server in turn.
gtest_discover_tests(test_sound PROPERTIES LABELS sound RESOURCE_LOCK sound_server)

add_executable(test_cli_midi ${CMAKE_CURRENT_SOURCE_DIR}/tools/test_cli_midi.cpp)
target_link_libraries(test_cli_midi PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(test_cli_midi PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_cli_midi orivelR-cli)
gtest_discover_tests(test_cli_midi PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV})

add_executable(test_cli_song ${CMAKE_CURRENT_SOURCE_DIR}/tools/test_cli_song.cpp)
target_link_libraries(test_cli_song PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(test_cli_song PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_cli_song orivelR-cli)
# Its renders keep a core busy: the tests that count the sound server's underflows run apart.
gtest_discover_tests(test_cli_song PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV} RESOURCE_LOCK sound_server)
