include(GoogleTest)
add_executable(test_decoders ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_decoders.cpp)
target_link_libraries(test_decoders PRIVATE audiolib_decoders testsupport GTest::gtest_main)
gtest_discover_tests(test_decoders)
