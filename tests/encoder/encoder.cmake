# The MP3 encoder, its window-thread wrapper, orivelR-cli encode and the converter window.
include(GoogleTest)
add_executable(test_encoder ${CMAKE_CURRENT_SOURCE_DIR}/encoder/test_encoder.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_link_libraries(test_encoder PRIVATE encoder_menc testsupport Qt6::Test GTest::gtest)
target_compile_definitions(test_encoder PRIVATE ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_encoder orivelR-cli)
gtest_discover_tests(test_encoder)

add_executable(test_form1 ${CMAKE_CURRENT_SOURCE_DIR}/encoder/test_form1.cpp
                          ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_form1 PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(test_form1 PRIVATE app testsupport Qt6::Test GTest::gtest)
gtest_discover_tests(test_form1)
