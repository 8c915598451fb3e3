# The song's key and tempo (the stretcher on Rubber Band): pitch, length, alignment, position.
include(GoogleTest)
add_executable(test_stretcher ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_stretcher.cpp)
target_link_libraries(test_stretcher PRIVATE audiolib GTest::gtest_main)
# Each case stretches seconds of audio with both engines.
gtest_discover_tests(test_stretcher PROPERTIES LABELS "engine;slow")

# Its mixing-thread calls, with the allocator counted. The counting allocator stands in for the
# C library's, which a sanitizer's runtime also replaces.
if(NOT ORIVELR_SANITIZE)
  add_executable(test_stretcher_alloc ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_stretcher_alloc.cpp)
  target_link_libraries(test_stretcher_alloc PRIVATE audiolib GTest::gtest_main)
  gtest_discover_tests(test_stretcher_alloc PROPERTIES LABELS "engine")
endif()
