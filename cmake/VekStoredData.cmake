# vek_add_stored_data(TARGET <target> [OPTIONS <file>] [VERSION a.b.c.d]
#                     [DESCRIPTION <text>] [PASSWORD <text>] [FORMAT_VERSION <n>] [FILE_END]
#                     [SYMBOLS <id>=<symbol> ...])
#
# Writes the crash reporter's stored data into the linked module of <target>
# after every link: the options from the readable options file, the debug
# data made from the module's DWARF, and the version information. The
# module must be built with -g; the DWARF may be stripped afterwards, the
# stored data stays (see docs/stored-data.md).
include_guard(GLOBAL)

function(vek_add_stored_data)
  cmake_parse_arguments(S "FILE_END" "TARGET;OPTIONS;VERSION;DESCRIPTION;PASSWORD;FORMAT_VERSION" "SYMBOLS" ${ARGN})
  if(NOT S_TARGET)
    message(FATAL_ERROR "vek_add_stored_data: TARGET is required")
  endif()
  if(NOT TARGET tavrel-stored-data)
    message(FATAL_ERROR "vek_add_stored_data: the tool target tavrel-stored-data is not defined (add tools/ first)")
  endif()
  set(args write $<TARGET_FILE:${S_TARGET}> --objcopy ${CMAKE_OBJCOPY})
  if(S_OPTIONS)
    get_filename_component(options_file ${S_OPTIONS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND args --options ${options_file})
    set_property(TARGET ${S_TARGET} APPEND PROPERTY LINK_DEPENDS ${options_file})
  endif()
  if(S_VERSION)
    list(APPEND args --version ${S_VERSION})
  endif()
  if(DEFINED S_DESCRIPTION)
    list(APPEND args --description "${S_DESCRIPTION}")
  endif()
  if(DEFINED S_PASSWORD)
    list(APPEND args --password "${S_PASSWORD}")
  endif()
  if(S_FORMAT_VERSION)
    list(APPEND args --format-version ${S_FORMAT_VERSION})
  endif()
  foreach(symbol IN LISTS S_SYMBOLS)
    list(APPEND args --symbol ${symbol})
  endforeach()
  if(S_FILE_END)
    list(APPEND args --file-end)
  endif()
  add_dependencies(${S_TARGET} tavrel-stored-data)
  # A new tool writes the data again: the module is linked again when the tool changes.
  set_property(TARGET ${S_TARGET} APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:tavrel-stored-data>)
  add_custom_command(TARGET ${S_TARGET} POST_BUILD
    COMMAND $<TARGET_FILE:tavrel-stored-data> ${args}
    COMMENT "Writing the stored reporter data into ${S_TARGET}"
    VERBATIM)
endfunction()
