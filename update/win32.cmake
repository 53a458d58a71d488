# Win32 half of the update service: download and the two worker threads.

# The WinINet download loop without boxes, shared by DownloadFile and the
# console updater.
add_library(ruvo_download_core STATIC ${CMAKE_CURRENT_LIST_DIR}/download_core_win32.cpp)
target_include_directories(ruvo_download_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ruvo_download_core PUBLIC ruvo_update_portable wininet winmm)

# ruvo_add_update_win32(<name> [<folder with update/release_keys.h>])
# RUVO.exe links ruvo_update_win32, built with the configured keys. Windows
# tests of the signed path build a variant whose release_keys.h, taken from
# the given folder, holds test-only keys.
function(ruvo_add_update_win32 name)
  set(dir ${PROJECT_SOURCE_DIR}/update)
  add_library(${name} STATIC ${dir}/download_win32.cpp ${dir}/identify_thread.cpp ${dir}/update_thread.cpp)
  if(ARGC GREATER 1)
    target_include_directories(${name} BEFORE PRIVATE ${ARGV1})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ruvo_update_config ruvo_update_portable ruvo_device ruvo_download_core
    wininet winmm user32)
endfunction()
ruvo_add_update_win32(ruvo_update_win32)

# The platform calls tests replace (allocation, Internet handle, boxes, exit).
# RUVO.exe links this library; Windows tests link their own stand-ins instead.
add_library(ruvo_update_platform STATIC platform_win32.cpp)
target_include_directories(ruvo_update_platform PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ruvo_update_platform PUBLIC wininet user32)
