# Win32 half of the update service: download and the two worker threads.
add_library(ruvo_update_win32 STATIC
  identify_thread.cpp
  update_thread.cpp
)
target_include_directories(ruvo_update_win32 PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ruvo_update_win32 PUBLIC ruvo_update_portable)
