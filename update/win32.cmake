# Win32 half of the update service: the WinINet download loop without boxes,
# shared by RUVO.exe's DownloadFile and the console updater.
add_library(ruvo_download_core STATIC ${CMAKE_CURRENT_LIST_DIR}/download_core_win32.cpp)
target_include_directories(ruvo_download_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ruvo_download_core PUBLIC ruvo_update_portable wininet winmm)
