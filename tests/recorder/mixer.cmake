# The system mixer: through the private sound server (label "sound"), and without one.
include(GoogleTest)
add_executable(test_mixer ${CMAKE_CURRENT_SOURCE_DIR}/recorder/test_mixer.cpp)
target_link_libraries(test_mixer PRIVATE recorder_mixer testsupport GTest::gtest_main)
gtest_discover_tests(test_mixer TEST_FILTER "Mixer.*"
                     PROPERTIES LABELS sound RESOURCE_LOCK sound_server TIMEOUT 120)
gtest_discover_tests(test_mixer TEST_FILTER "-Mixer.*" PROPERTIES TIMEOUT 60)
