# The singer's evening end to end: the real window on an X display of its own (xvfb-run) and
# the private sound server; one CTest test per evening, each a process of its own.
include(GoogleTest)
add_executable(test_evening ${CMAKE_CURRENT_SOURCE_DIR}/evening/test_evening.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_evening PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(test_evening PRIVATE app testsupport Qt6::Test GTest::gtest)
target_compile_definitions(test_evening PRIVATE ORIVELR_TEST_REAL_SOUND ORIVELR_TEST_ON_DISPLAY
                                                ORIVELR_CLI="$<TARGET_FILE:orivelR-cli>")
add_dependencies(test_evening orivelR-cli)
foreach(evening Mp3SongWithTheRemoverAndTheEqualiserSungOverPlayedBackAndSavedAsWavAndMp3
                KaraokeSongTransposedAndFasterWithItsLyricsRecordedAndSaved
                KaraokeSongSungInTuneIsScoredLineByLineAndInTheEnd
                CdTrackRippedHandedOverSungOverAndSavedAsMp3)
  add_test(NAME Evening.${evening}
           COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:test_evening>
                   --gtest_filter=Evening.${evening})
  set_tests_properties(Evening.${evening} PROPERTIES
                       LABELS "sound;slow" RESOURCE_LOCK sound_server
                       ENVIRONMENT "QT_QPA_PLATFORM=xcb;${ORIVELR_TEST_ENV}")
endforeach()
