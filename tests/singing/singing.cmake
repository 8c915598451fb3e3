# The singing room: pitch, melody and score, and the pitch and score commands run as programs.
include(GoogleTest)
add_executable(test_singing ${CMAKE_CURRENT_SOURCE_DIR}/singing/test_singing.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/singing/test_latency.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/singing/test_singing_cli.cpp)
target_include_directories(test_singing PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/singing)
target_link_libraries(test_singing PRIVATE singing testsupport GTest::gtest_main)
target_compile_definitions(test_singing PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_singing orivelR-cli)
gtest_discover_tests(test_singing PROPERTIES LABELS engine)
