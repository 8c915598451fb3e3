# The system mixer of the mixer panel, on the sound server; and the desktop's volume control.
add_library(recorder_mixer STATIC
  ${CMAKE_CURRENT_LIST_DIR}/VRMixer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VolumeControl.cpp)
target_include_directories(recorder_mixer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(recorder_mixer PUBLIC PkgConfig::PULSE Threads::Threads)
