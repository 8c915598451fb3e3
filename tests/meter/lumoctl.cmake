# The meter control: its interface, drawing and level arithmetic off screen without sound
# devices, and its capture, recording and playback through the private sound server.
include(GoogleTest)
find_package(Qt6 REQUIRED COMPONENTS UiPlugin)

add_executable(test_lumoctl ${CMAKE_CURRENT_SOURCE_DIR}/meter/test_lumoctl.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/meter/test_render.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_lumoctl PRIVATE ${PROJECT_SOURCE_DIR}/meter)
target_link_libraries(test_lumoctl PRIVATE LumoMeter testsupport Qt6::Test Qt6::UiPlugin
                      GTest::gtest)
target_compile_definitions(test_lumoctl
                           PRIVATE LUMO_DESIGNER_PLUGIN="$<TARGET_FILE:LumoMeterDesigner>")
add_dependencies(test_lumoctl LumoMeterDesigner)
gtest_discover_tests(test_lumoctl PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV})

add_executable(test_lumoctl_sound ${CMAKE_CURRENT_SOURCE_DIR}/meter/test_lumoctl_sound.cpp
                                  ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_lumoctl_sound PRIVATE ${PROJECT_SOURCE_DIR}/meter)
target_link_libraries(test_lumoctl_sound PRIVATE LumoMeter testsupport Qt6::Test GTest::gtest)
# Its main() leaves SDL on the sound server (an ENVIRONMENT list of gtest_discover_tests
# keeps only its first entry, so this is a definition, not a variable).
target_compile_definitions(test_lumoctl_sound PRIVATE ORIVELR_TEST_REAL_SOUND)
gtest_discover_tests(test_lumoctl_sound PROPERTIES LABELS sound RESOURCE_LOCK sound_server
                     ENVIRONMENT ${ORIVELR_TEST_ENV})
