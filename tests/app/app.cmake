# The windows, off screen; with REAL_SOUND through the private sound server of ./test.sh.
include(GoogleTest)
function(orivelr_window_test name source)
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${source}
                         ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
  target_link_libraries(${name} PRIVATE app testsupport Qt6::Test GTest::gtest)
  if("REAL_SOUND" IN_LIST ARGN)
    # Its main() leaves SDL on the sound server (an ENVIRONMENT list of gtest_discover_tests
    # keeps only its first entry, so this is a definition, not a variable).
    target_compile_definitions(${name} PRIVATE ORIVELR_TEST_REAL_SOUND)
    gtest_discover_tests(${name} PROPERTIES LABELS sound RESOURCE_LOCK sound_server
                         ENVIRONMENT ${ORIVELR_TEST_ENV})
  else()
    gtest_discover_tests(${name} PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV})
  endif()
endfunction()
orivelr_window_test(test_frmMain app/test_frmMain.cpp)
orivelr_window_test(test_frmMain_midi app/test_frmMain_midi.cpp)
orivelr_window_test(test_singer_screen app/test_singer_screen.cpp)
orivelr_window_test(test_window_sound app/test_window_sound.cpp REAL_SOUND)
orivelr_window_test(test_latency_window app/test_latency_window.cpp REAL_SOUND)
orivelr_window_test(test_take_score_window app/test_take_score_window.cpp)

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

# The main window walked at random from fixed seeds: 20 in the ordinary run, more under "slow".
orivelr_window_test(test_window_walk app/test_window_walk.cpp)
add_executable(test_window_walk_slow ${CMAKE_CURRENT_SOURCE_DIR}/app/test_window_walk.cpp
                                     ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_window_walk_slow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(test_window_walk_slow PRIVATE app testsupport Qt6::Test GTest::gtest)
target_compile_definitions(test_window_walk_slow PRIVATE ORIVELR_WALK_FIRST_SEED=1001
                                                         ORIVELR_WALK_SEEDS=40)
gtest_discover_tests(test_window_walk_slow PROPERTIES LABELS slow ENVIRONMENT ${ORIVELR_TEST_ENV})
