# The installed program, as a desktop finds it.
add_test(NAME Install.DesktopEntryAppStreamAndProgramsFromThePrefix
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install/check-install.sh ${CMAKE_BINARY_DIR})
