# The CD window on an image, with the main window it hands its rips to.
include(GoogleTest)
add_executable(test_frmDemo ${CMAKE_CURRENT_SOURCE_DIR}/cd/test_frmDemo.cpp
                            ${CMAKE_CURRENT_SOURCE_DIR}/support/QtTestMain.cpp)
target_include_directories(test_frmDemo PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(test_frmDemo PRIVATE app testsupport Qt6::Test GTest::gtest)
gtest_discover_tests(test_frmDemo PROPERTIES ENVIRONMENT ${ORIVELR_TEST_ENV})
