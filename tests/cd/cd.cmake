# The CD add-on, the WMA encoder, the track list and the rippers on images the tests write
# themselves, checked against cd-paranoia and ffprobe; and orivelR-cli cd.
include(GoogleTest)
add_executable(test_cd ${CMAKE_CURRENT_SOURCE_DIR}/cd/test_cd.cpp
                       ${CMAKE_CURRENT_SOURCE_DIR}/cd/test_cd_text.cpp)
target_link_libraries(test_cd PRIVATE cd testsupport GTest::gtest_main)
target_compile_definitions(test_cd PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_cd orivelR-cli)
gtest_discover_tests(test_cd)
