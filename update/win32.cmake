# Win32 half of the update service: download and the two worker threads.

# The update server's base URL, fixed at build time.
if(NOT RUVO_UPDATE_HOST MATCHES "^[A-Za-z0-9.-]+$")
  message(FATAL_ERROR "RUVO_UPDATE_HOST must be a host name or address (the default port is used), not '${RUVO_UPDATE_HOST}'")
endif()
configure_file(update_base_url.h.in ${CMAKE_CURRENT_BINARY_DIR}/generated/update/update_base_url.h @ONLY)

# The WinINet download loop without boxes, shared by DownloadFile and the
# console updater.
add_library(ruvo_download_core STATIC download_core_win32.cpp)
target_include_directories(ruvo_download_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ruvo_download_core PUBLIC wininet winmm)

add_library(ruvo_update_win32 STATIC
  download_win32.cpp
  identify_thread.cpp
  update_thread.cpp
)
target_include_directories(ruvo_update_win32 PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(ruvo_update_win32 PUBLIC ruvo_update_portable ruvo_device ruvo_download_core wininet winmm user32)

# The platform calls tests replace (allocation, Internet handle, boxes, exit).
# RUVO.exe links this library; Windows tests link their own stand-ins instead.
add_library(ruvo_update_platform STATIC platform_win32.cpp)
target_include_directories(ruvo_update_platform PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ruvo_update_platform PUBLIC wininet user32)
