# The MIDI sequencer inside the engine, on the render-on-demand device.
include(GoogleTest)
add_executable(test_midi_engine ${CMAKE_CURRENT_SOURCE_DIR}/audiolib/test_midi_engine.cpp)
target_link_libraries(test_midi_engine PRIVATE audiolib testsupport GTest::gtest_main)
gtest_discover_tests(test_midi_engine PROPERTIES LABELS engine)
