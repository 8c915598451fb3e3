# The mixing thread of a real (silent) device, with the allocator and the locks counted. The
# counting allocator stands in for the C library's, which a sanitizer's runtime also replaces.
include(GoogleTest)
if(NOT ORIVELR_SANITIZE)
  add_executable(test_realtime ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_realtime.cpp)
  target_link_libraries(test_realtime PRIVATE audiolib testsupport GTest::gtest_main ${CMAKE_DL_LIBS})
  set_target_properties(test_realtime PROPERTIES ENABLE_EXPORTS ON)
  # It plays in real time on the silent device.
  gtest_discover_tests(test_realtime PROPERTIES LABELS "engine;slow")
endif()
