# The report's system information: the values of the Computer, Operating
# System and Network sections, one library, crashreport_sysinfo. Its sources
# sit in sysinfo/, out of reach of the folder's own source list.
add_library(crashreport_sysinfo STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sysinfo/computer_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sysinfo/network_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sysinfo/os_info.cpp)
target_include_directories(crashreport_sysinfo PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(crashreport_sysinfo PUBLIC platform_kernel platform_rtl)
tavrel_add_library(crashreport_sysinfo)

# The display mode through the toolkit, for programs that show windows.
if(TARGET platform_ui)
  add_library(crashreport_sysinfo_display STATIC ${CMAKE_CURRENT_LIST_DIR}/sysinfo/display_mode_query.cpp)
  target_link_libraries(crashreport_sysinfo_display PUBLIC crashreport_sysinfo platform_ui)
endif()
