# The engine through its library interface, on the render-on-demand device.
include(GoogleTest)
add_executable(test_engine ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_engine.cpp)
target_link_libraries(test_engine PRIVATE audiolib testsupport GTest::gtest_main)
gtest_discover_tests(test_engine PROPERTIES LABELS engine)
