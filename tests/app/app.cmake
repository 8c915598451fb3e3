# The windows, off screen.
include(GoogleTest)
add_executable(test_frmMain ${CMAKE_CURRENT_SOURCE_DIR}/app/test_frmMain.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_frmMain PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(test_frmMain PRIVATE app testsupport Qt6::Test GTest::gtest)
gtest_discover_tests(test_frmMain PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV})

# The window through the private sound server of ./test.sh.
add_executable(test_window_sound ${CMAKE_CURRENT_SOURCE_DIR}/app/test_window_sound.cpp
                                 ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_window_sound PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(test_window_sound PRIVATE app testsupport Qt6::Test GTest::gtest)
# Its main() leaves SDL on the sound server (an ENVIRONMENT list of gtest_discover_tests
# keeps only its first entry, so this is a definition, not a variable).
target_compile_definitions(test_window_sound PRIVATE ORIVELR_TEST_REAL_SOUND)
gtest_discover_tests(test_window_sound PROPERTIES LABELS sound RESOURCE_LOCK sound_server
                     ENVIRONMENT ${ORIVELR_TEST_ENV})

add_executable(test_frmMain_midi ${CMAKE_CURRENT_SOURCE_DIR}/app/test_frmMain_midi.cpp
                                 ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_frmMain_midi PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(test_frmMain_midi PRIVATE app testsupport Qt6::Test GTest::gtest)
gtest_discover_tests(test_frmMain_midi PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV})

# The programs as a desktop and a terminal end them.
add_executable(test_signals ${CMAKE_CURRENT_SOURCE_DIR}/app/test_signals.cpp)
target_link_libraries(test_signals PRIVATE audiolib testsupport GTest::gtest_main)
target_compile_definitions(test_signals PRIVATE ORIVELR_APP="$<TARGET_FILE:orivelR>"
                                                ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_signals orivelR orivelR-cli)
gtest_discover_tests(test_signals PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV})

# The needle meters' maths.
add_executable(test_needle_meter ${CMAKE_CURRENT_SOURCE_DIR}/app/test_needle_meter.cpp)
target_link_libraries(test_needle_meter PRIVATE app GTest::gtest_main)
gtest_discover_tests(test_needle_meter)
