# The remover that keeps the band (centre extraction): what goes, what stays, its delay, its state.
include(GoogleTest)
add_executable(test_centre ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_centre.cpp)
target_link_libraries(test_centre PRIVATE audiolib GTest::gtest_main)
gtest_discover_tests(test_centre PROPERTIES LABELS "engine")

# Its mixing-thread calls, with the allocator counted (the counting allocator stands in for the
# C library's, which a sanitizer's runtime also replaces).
if(NOT ORIVELR_SANITIZE)
  add_executable(test_centre_alloc ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_centre_alloc.cpp)
  target_link_libraries(test_centre_alloc PRIVATE audiolib GTest::gtest_main)
  gtest_discover_tests(test_centre_alloc PROPERTIES LABELS "engine")
endif()
