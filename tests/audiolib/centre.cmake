# The remover that keeps the band (centre extraction): what goes, what stays, its delay, its state.
include(GoogleTest)
add_executable(test_centre ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_centre.cpp)
target_link_libraries(test_centre PRIVATE audiolib GTest::gtest_main)
gtest_discover_tests(test_centre PROPERTIES LABELS "engine")
# Its mixing-thread calls are counted for allocations and locks by the realtime test, where it
# runs on the real mixing thread.
