# The crash reporter as a CMake package: the target TavrelLog::TavrelLog
# that links every library of the reporter, and the install rules of its
# headers, libraries, build-time tool and package files.
#
#   tavrel_add_library(<target>)
#       Called by each library of the reporter (and of the platform layer it
#       uses) right where the library is made: the library joins
#       TavrelLog::TavrelLog and is installed. It is compiled with line
#       tables in every build type.
#   tavrel_add_desktop_library(<target>)
#       The same for a library of the desktop side (the toolkit, the dialogs,
#       the screenshot, the freeze watchdog, the desktop start): it joins
#       TavrelLog::Desktop, which links TavrelLog::TavrelLog as well.
#   tavrel_finish_package()
#       Called once at the end of the top-level list: writes the export set
#       and the package files.
#
# Everything is installed as the component TavrelLog:
#   cmake --install <build> --prefix <prefix> --component TavrelLog
#
# TavrelLog::TavrelLog needs no toolkit: a library that needs one of ours
# which is not in it (the user-interface toolkit, platform_ui, in
# particular) stays out, so a program without a display links no toolkit.
# The desktop side is the component Desktop (TavrelLog::Desktop, its own
# export set and targets file, loaded only when a program asks for it); a
# build without the toolkit (TAVREL_REPORTER_ONLY) has no Desktop component.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/TavrelStoredData.cmake)

set(TAVREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/TavrelLog)

add_library(TavrelLog INTERFACE)
add_library(TavrelLog::TavrelLog ALIAS TavrelLog)
# What every module that carries the reporter needs: faults in ordinary code
# become C++ exceptions that unwind through every frame, and programs export
# their event functions to the dynamic symbol table.
target_compile_options(TavrelLog INTERFACE -fnon-call-exceptions -fasynchronous-unwind-tables)
target_link_options(TavrelLog INTERFACE "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-rdynamic>")
target_compile_features(TavrelLog INTERFACE cxx_std_20)
# The starts from module initialisation (crashreport_autostart): named on
# the link line so that the linker takes them out of their archive although
# the program calls neither. With stored options the reporter then runs
# before the program's own static objects; without, it stays off.
target_link_options(TavrelLog INTERFACE "LINKER:-u,TavrelLog_LinkAutostart" "LINKER:-u,TavrelLog_StartReporter")

# The name programs linked for the start before TavrelLog::TavrelLog had it.
add_library(TavrelLogAutostart INTERFACE)
target_link_libraries(TavrelLogAutostart INTERFACE TavrelLog)
set_target_properties(TavrelLogAutostart PROPERTIES EXPORT_NAME Autostart)
add_library(TavrelLog::Autostart ALIAS TavrelLogAutostart)

function(tavrel_add_library target)
  set_property(GLOBAL APPEND PROPERTY TAVREL_LIBRARIES ${target})
  tavrel_keep_line_tables(${target})
endfunction()

function(tavrel_add_desktop_library target)
  set_property(GLOBAL APPEND PROPERTY TAVREL_DESKTOP_LIBRARIES ${target})
  tavrel_keep_line_tables(${target})
endfunction()

# Names the source tree's include folders in the build only; installed, the
# one include folder is include/.
function(_tavrel_install_includes lib)
  get_target_property(dirs ${lib} INTERFACE_INCLUDE_DIRECTORIES)
  if(dirs)
    set(fixed)
    foreach(d IN LISTS dirs)
      string(FIND "${d}/" "${PROJECT_SOURCE_DIR}/" at)
      if(at EQUAL 0)
        list(APPEND fixed "$<BUILD_INTERFACE:${d}>")
      else()
        list(APPEND fixed "${d}")
      endif()
    endforeach()
    set_target_properties(${lib} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${fixed}")
  endif()
  target_include_directories(${lib} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endfunction()

# Our libraries that `target` links directly.
function(_tavrel_own_links target out)
  get_target_property(links ${target} LINK_LIBRARIES)
  get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
  set(own)
  foreach(l IN LISTS links interface)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" l "${l}")
    if(l MATCHES "^(platform|crashreport)_")
      list(APPEND own ${l})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES own)
  set(${out} ${own} PARENT_SCOPE)
endfunction()

# The candidates that link only libraries of `allowed` or of each other:
# leaves out, until nothing changes, every candidate that links one of ours
# outside them.
function(_tavrel_members candidates allowed out)
  set(members ${candidates})
  set(changed TRUE)
  while(changed)
    set(changed FALSE)
    foreach(lib IN LISTS members)
      _tavrel_own_links(${lib} own)
      foreach(dep IN LISTS own)
        if(NOT dep IN_LIST members AND NOT dep IN_LIST allowed)
          message(STATUS "TavrelLog: ${lib} stays out of the package (it needs ${dep})")
          list(REMOVE_ITEM members ${lib})
          set(changed TRUE)
          break()
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} ${members} PARENT_SCOPE)
endfunction()

# `libraries` in link order: each before the ones of them it links.
function(_tavrel_link_order libraries out)
  set(done)
  set(order)
  macro(_tavrel_visit lib)
    if(NOT "${lib}" IN_LIST done)
      list(APPEND done ${lib})
      _tavrel_own_links(${lib} _links_${lib})
      foreach(dep IN LISTS _links_${lib})
        if(dep IN_LIST libraries)
          _tavrel_visit(${dep})
        endif()
      endforeach()
      list(PREPEND order ${lib})
    endif()
  endmacro()
  foreach(lib IN LISTS libraries)
    _tavrel_visit(${lib})
  endforeach()
  set(${out} ${order} PARENT_SCOPE)
endfunction()

# Writes lib/pkgconfig/<name>.pc from cmake/<name>.pc.in with `libraries`
# (as @pc_libraries@), the prefix filled in at install time.
function(_tavrel_install_pc name libraries)
  set(pc_libraries)
  foreach(lib IN LISTS libraries)
    string(APPEND pc_libraries " -l${lib}")
  endforeach()
  string(STRIP "${pc_libraries}" pc_libraries)
  set(prefix "@TAVREL_INSTALL_PREFIX@")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${name}.pc.in ${PROJECT_BINARY_DIR}/${name}.pc.in @ONLY)
  install(CODE "set(TAVREL_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(${PROJECT_BINARY_DIR}/${name}.pc.in ${PROJECT_BINARY_DIR}/${name}.pc @ONLY)"
    COMPONENT TavrelLog)
  install(FILES ${PROJECT_BINARY_DIR}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT TavrelLog)
endfunction()

function(tavrel_finish_package)
  get_property(candidates GLOBAL PROPERTY TAVREL_LIBRARIES)
  _tavrel_members("${candidates}" "" members)

  foreach(lib IN LISTS members)
    # The libraries name the source root as their include folder; installed,
    # the headers lie under include/ with the same paths.
    _tavrel_install_includes(${lib})
    target_link_libraries(TavrelLog INTERFACE ${lib})
  endforeach()
  set_property(GLOBAL PROPERTY TAVREL_PACKAGE_LIBRARIES ${members})

  install(TARGETS TavrelLog TavrelLogAutostart ${members} EXPORT TavrelLogTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT TavrelLog
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  if(TARGET tavrel-stored-data)
    install(TARGETS tavrel-stored-data EXPORT TavrelLogTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT TavrelLog)
  endif()
  # The public headers only; the reporter's own stay in the source tree.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT TavrelLog FILES_MATCHING PATTERN "*.h")
  install(FILES ${PROJECT_SOURCE_DIR}/crashreport/binding/reporter_exports.map
    DESTINATION ${TAVREL_INSTALL_CMAKEDIR} COMPONENT TavrelLog)
  install(EXPORT TavrelLogTargets NAMESPACE TavrelLog:: DESTINATION ${TAVREL_INSTALL_CMAKEDIR} COMPONENT TavrelLog)

  _tavrel_install_pc(tavrellog "${members}")

  # The desktop side: its libraries link only the package's and each other's.
  get_property(desktop_candidates GLOBAL PROPERTY TAVREL_DESKTOP_LIBRARIES)
  _tavrel_members("${desktop_candidates}" "${members}" desktop)
  if("crashreport_desktop_autostart" IN_LIST desktop)
    add_library(TavrelLogDesktop INTERFACE)
    add_library(TavrelLog::Desktop ALIAS TavrelLogDesktop)
    set_target_properties(TavrelLogDesktop PROPERTIES EXPORT_NAME Desktop)
    foreach(lib IN LISTS desktop)
      _tavrel_install_includes(${lib})
    endforeach()
    target_link_libraries(TavrelLogDesktop INTERFACE TavrelLog ${desktop})
    # The desktop start, taken out of its archive by name: it takes the
    # place of the console start that TavrelLog::TavrelLog names.
    target_link_options(TavrelLogDesktop INTERFACE "LINKER:-u,TavrelLog_LinkDesktopAutostart")
    install(TARGETS TavrelLogDesktop ${desktop} EXPORT TavrelLogDesktopTargets
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT TavrelLog)
    install(EXPORT TavrelLogDesktopTargets NAMESPACE TavrelLog:: DESTINATION ${TAVREL_INSTALL_CMAKEDIR}
      COMPONENT TavrelLog)
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/TavrelToolkitDependencies.cmake
      DESTINATION ${TAVREL_INSTALL_CMAKEDIR} COMPONENT TavrelLog)
    # In link order, not as a group: pkg-config joins the Libs of the
    # required tavrellog after them, and drops a second --end-group.
    get_property(TAVREL_TOOLKIT_PKG_MODULES GLOBAL PROPERTY TAVREL_TOOLKIT_PKG_MODULES)
    _tavrel_link_order("${desktop}" desktop_in_order)
    _tavrel_install_pc(tavrellog-desktop "${desktop_in_order}")
  else()
    message(STATUS "TavrelLog: no Desktop component (the build has no toolkit)")
  endif()

  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TavrelLogConfig.cmake.in
    ${PROJECT_BINARY_DIR}/TavrelLogConfig.cmake INSTALL_DESTINATION ${TAVREL_INSTALL_CMAKEDIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/TavrelLogConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/TavrelLogConfig.cmake ${PROJECT_BINARY_DIR}/TavrelLogConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/TavrelStoredData.cmake
    DESTINATION ${TAVREL_INSTALL_CMAKEDIR} COMPONENT TavrelLog)
endfunction()
