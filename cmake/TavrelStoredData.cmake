# tavrel_add_stored_data(TARGET <target> [OPTIONS <file>] [VERSION a.b.c.d]
#                        [DESCRIPTION <text>] [PASSWORD <text>] [FORMAT_VERSION <n>] [FILE_END]
#                        [SYMBOLS <id>=<symbol> ...])
#
# Writes the crash reporter's stored data into the linked module of <target>
# after every link: the options from the readable options file, the debug
# data made from the module's line tables, and the version information. The
# DWARF may be stripped afterwards (see docs/stored-data.md); the stored data
# stays.
#
# Line tables are needed whatever the build type: the target's own sources
# are compiled with -g where the build type gives none (Release, MinSizeRel,
# or none), and the tool fails the build when the linked module has no line
# information at all.
#
# Works in the source tree (the tool target `tavrel-stored-data`) and from the
# installed package (`TavrelLog::tavrel-stored-data`).
include_guard(GLOBAL)

# tavrel_keep_line_tables(<target> [PRIVATE|PUBLIC|INTERFACE])
# Compiles <target> with -g in the build types whose flags give none. -g
# does not change the code GCC makes. -g1 would be smaller but is not
# enough: it leaves out the inlined calls inside lexical blocks (a third of
# them in optimised C++) together with their line rows, so an address there
# names the caller's line instead of the inlined function's. The stored data
# replaces the DWARF, which can be stripped from what is shipped.
function(tavrel_keep_line_tables target)
  set(scope PRIVATE)
  if(ARGC GREATER 1)
    set(scope ${ARGV1})
  endif()
  target_compile_options(${target} ${scope} "$<$<NOT:$<CONFIG:Debug,RelWithDebInfo>>:-g>")
endfunction()

function(tavrel_add_stored_data)
  cmake_parse_arguments(S "FILE_END" "TARGET;OPTIONS;VERSION;DESCRIPTION;PASSWORD;FORMAT_VERSION" "SYMBOLS" ${ARGN})
  if(NOT S_TARGET)
    message(FATAL_ERROR "tavrel_add_stored_data: TARGET is required")
  endif()
  if(NOT TARGET ${S_TARGET})
    message(FATAL_ERROR "tavrel_add_stored_data: ${S_TARGET} is not a target")
  endif()
  if(TARGET tavrel-stored-data)
    set(tool tavrel-stored-data)
  elseif(TARGET TavrelLog::tavrel-stored-data)
    set(tool TavrelLog::tavrel-stored-data)
  else()
    message(FATAL_ERROR "tavrel_add_stored_data: the tool tavrel-stored-data is not defined "
      "(find_package(TavrelLog) or add the reporter's source tree first)")
  endif()
  set(objcopy "${CMAKE_OBJCOPY}")
  if(NOT objcopy)
    set(objcopy objcopy)
  endif()
  tavrel_keep_line_tables(${S_TARGET})
  set(args write $<TARGET_FILE:${S_TARGET}> --objcopy ${objcopy})
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
  if(TARGET tavrel-stored-data)
    add_dependencies(${S_TARGET} tavrel-stored-data)
  endif()
  # A new tool writes the data again: the module is linked again when the tool changes.
  set_property(TARGET ${S_TARGET} APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:${tool}>)
  add_custom_command(TARGET ${S_TARGET} POST_BUILD
    COMMAND $<TARGET_FILE:${tool}> ${args}
    COMMENT "Writing the stored reporter data into ${S_TARGET}"
    VERBATIM)
endfunction()
