# The effect types of the effects add-on, driven through their table.
include(GoogleTest)
add_executable(test_effects ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_effects.cpp
               ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_biquad_cascade.cpp)
target_link_libraries(test_effects PRIVATE audiolib_effects testsupport GTest::gtest_main)
gtest_discover_tests(test_effects)
