# The song's key and tempo (the stretcher on Rubber Band): pitch, length, alignment, position.
include(GoogleTest)
add_executable(test_stretcher ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_stretcher.cpp)
target_link_libraries(test_stretcher PRIVATE audiolib GTest::gtest_main)
# Each case stretches seconds of audio with both engines.
gtest_discover_tests(test_stretcher)
# They keep both cores busy for seconds: they take the sound server's lock, so that the tests
# that count the server's underflows never run beside them.
# Both labels are set once the cases are known: a list passed through PROPERTIES loses its second
# element on the way.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/test_stretcher_labels.cmake
     "set_tests_properties(\${test_stretcher_TESTS} PROPERTIES LABELS \"engine;slow\" RESOURCE_LOCK sound_server)\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
             ${CMAKE_CURRENT_BINARY_DIR}/test_stretcher_labels.cmake)
# Its mixing-thread calls are counted for allocations and locks by the realtime test, where it
# runs on the real mixing thread.
