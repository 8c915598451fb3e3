# The control's sound engine, driven without the widget.
include(GoogleTest)
add_executable(test_meter_engine ${CMAKE_CURRENT_SOURCE_DIR}/meter/test_meter_engine.cpp)
target_link_libraries(test_meter_engine PRIVATE LumoEngine testsupport GTest::gtest_main)
# A playback file that passes its checks opens SDL's silent device.
gtest_discover_tests(test_meter_engine PROPERTIES LABELS engine
                     ENVIRONMENT "SDL_AUDIODRIVER=dummy")

# On SDL's disk driver: capture reads one file and playback writes another, in real time. Each
# case names its own two files (SDL_DISKAUDIOFILEIN, SDL_DISKAUDIOFILE) before it opens a device.
add_executable(test_meter_engine_disk ${CMAKE_CURRENT_SOURCE_DIR}/meter/test_meter_engine_disk.cpp)
target_link_libraries(test_meter_engine_disk PRIVATE LumoEngine testsupport GTest::gtest_main)
gtest_discover_tests(test_meter_engine_disk PROPERTIES LABELS engine
                     ENVIRONMENT "SDL_AUDIODRIVER=disk")

# A recorder that runs until it is killed, for the test of what such a recording leaves.
add_executable(lumo_engine_record ${CMAKE_CURRENT_SOURCE_DIR}/meter/lumo_engine_record.cpp)
target_link_libraries(lumo_engine_record PRIVATE LumoEngine)

# Through the private sound server of ./test.sh.
add_executable(test_meter_engine_sound
               ${CMAKE_CURRENT_SOURCE_DIR}/meter/test_meter_engine_sound.cpp)
target_link_libraries(test_meter_engine_sound PRIVATE LumoEngine testsupport GTest::gtest_main)
target_compile_definitions(test_meter_engine_sound
                           PRIVATE LUMO_ENGINE_RECORD="$<TARGET_FILE:lumo_engine_record>")
add_dependencies(test_meter_engine_sound lumo_engine_record)
gtest_discover_tests(test_meter_engine_sound PROPERTIES LABELS sound RESOURCE_LOCK sound_server)
