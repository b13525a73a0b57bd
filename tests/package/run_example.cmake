# Builds the example programs the two ways a stranger would and checks what
# the reporter says about their crashes:
#   MODE=package       installs the reporter into a prefix of its own, then
#                      builds examples/minimal and the autostart program
#                      against it with find_package(TavrelLog);
#   MODE=desktop       installs it likewise and builds the plain Xlib
#                      program of desktop/ with TavrelLog::Desktop; a fault
#                      shows the exception dialog on $DISPLAY (answered
#                      with Escape), and without a display the console;
#   MODE=subdirectory  builds the autostart program with the checkout added
#                      as a subdirectory, reporter only (MinSizeRel: line
#                      tables in a build type whose flags have none).
# Each program is stripped before it runs.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

# The line of `marker` in a source file.
function(line_of file marker out)
  file(STRINGS ${file} lines)
  set(n 0)
  foreach(l IN LISTS lines)
    math(EXPR n "${n} + 1")
    if(l MATCHES "${marker}")
      set(${out} ${n} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "no \"${marker}\" in ${file}")
endfunction()

# Strips the built program into WORK_DIR; the stored data must stay.
function(strip_program built out)
  get_filename_component(name ${built} NAME)
  set(program ${WORK_DIR}/${name})
  run(${STRIP} -o ${program} ${built})
  execute_process(COMMAND readelf -S -W ${program} OUTPUT_VARIABLE sections)
  if(sections MATCHES "\\.debug_")
    message(FATAL_ERROR "the stripped ${name} still has DWARF:\n${sections}")
  endif()
  if(NOT sections MATCHES "\\.tldata")
    message(FATAL_ERROR "the stripped ${name} has no stored data:\n${sections}")
  endif()
  set(${out} ${program} PARENT_SCOPE)
endfunction()

# The pattern of the console report's call-stack row for `procedure` (a
# pattern, with its arguments) in namespace app of a program's main.cpp at `line`.
function(report_row procedure line out)
  set(${out} "\\|main\\.cpp *\\|app *\\|${procedure} *\\|${line} *\\|" PARENT_SCOPE)
endfunction()

# Fails unless the log beside a program exists and names the frame of
# `row`; its text goes to `out`.
function(expect_log file row what out)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${what} kept no log beside the program")
  endif()
  file(READ ${file} log)
  if(NOT log MATCHES "${row}")
    message(FATAL_ERROR "${what}: the log does not name the failing frame (${row}):\n${log}")
  endif()
  set(${out} "${log}" PARENT_SCOPE)
endfunction()

# Fails unless `text` matches every pattern after `what`.
function(expect_all what text)
  foreach(pattern IN LISTS ARGN)
    if(NOT text MATCHES "${pattern}")
      message(FATAL_ERROR "${what}: expected \"${pattern}\" in:\n${text}")
    endif()
  endforeach()
endfunction()

function(configure_and_build source build)
  set(launcher)
  if(LAUNCHER)
    set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER})
  endif()
  run(${CMAKE_COMMAND} -S ${source} -B ${build} -G Ninja ${ARGN} ${launcher}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER}
    "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
  run(${CMAKE_COMMAND} --build ${build})
endfunction()

# The program of autostart/, which uses only tavrellog/tavrellog.h.
function(check_autostart built)
  strip_program(${built} program)
  execute_process(COMMAND ${program} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out MATCHES "reporter before statics: on")
    message(FATAL_ERROR "the reporter did not start from module initialisation (${status}):\n${out}\n${err}")
  endif()
  line_of(${AUTOSTART_DIR}/main.cpp "// the fault" fault_line)
  line_of(${AUTOSTART_DIR}/main.cpp "// the throw" throw_line)
  report_row("Store\\(int\\)" ${fault_line} fault_row)
  report_row("Parse\\(char const\\*\\)" ${throw_line} throw_row)
  execute_process(COMMAND ${program} crash RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(status EQUAL 0)
    message(FATAL_ERROR "the crash did not end the program:\n${out}\n${err}")
  endif()
  expect_all("autostart_app crash" "${out}" "${fault_row}")

  # Caught exceptions reported on demand: the first with the handler's
  # custom data, the one the handler refuses not at all, and after options
  # that show nothing none on the console; bad options change nothing.
  execute_process(COMMAND ${program} caught RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "autostart_app caught ended with ${status}; it said:\n${out}")
  expect_all("autostart_app caught" "${out}" "${throw_row}" "order 4711 for \\[short input: first\\]"
    "first reported: yes\n" "quiet reported: no\n" "bad options: refused, options:2: unknown option \"NoSuchOption\"\n"
    "no dialog: taken\n" "unshown reported: yes\n")
  string(REGEX MATCHALL "Call Stack Information:" reports "${out}")
  list(LENGTH reports count)
  if(NOT status EQUAL 0 OR NOT count EQUAL 1 OR out MATCHES "short input: (quiet|unshown)")
    message(FATAL_ERROR "autostart_app caught (${status}) printed ${count} reports, not the first alone:\n${out}\n${err}")
  endif()

  # Stopped, the reporter takes nothing; started again, it reports.
  execute_process(COMMAND ${program} restart RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  expect_all("autostart_app restart" "${out}" "stopped: running no, reported no\n" "started: yes\n"
    "restarted reported: yes\n" "${throw_row}" "short input: restarted")
  if(NOT status EQUAL 0 OR out MATCHES "short input: stopped")
    message(FATAL_ERROR "autostart_app restart (${status}) reported while stopped:\n${out}\n${err}")
  endif()

  # A plugin loaded with dlopen after the start, without the reporter: its
  # uncaught throw is reported once, with the plugin as the raising module,
  # its message and the plugin's exported function on the call stack, and
  # ends the program.
  get_filename_component(built_dir ${built} DIRECTORY)
  execute_process(COMMAND ${program} plugin ${built_dir}/libautostart_plugin.so
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "autostart_app plugin ended with ${status}; it said:\n${out}")
  expect_all("autostart_app plugin" "${out}" "2\\.3 Module : libautostart_plugin\\.so" "2\\.5 Message: the plugin failed"
    "\\|libautostart_plugin\\.so *\\| *\\| *\\|PluginRun *\\|")
  string(REGEX MATCHALL "Call Stack Information:" reports "${out}")
  list(LENGTH reports count)
  if(status EQUAL 0 OR NOT count EQUAL 1)
    message(FATAL_ERROR "autostart_app plugin (${status}) printed ${count} reports, not one:\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

if(MODE STREQUAL "package")
  set(prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component TavrelLog)
  foreach(f lib/cmake/TavrelLog/TavrelLogConfig.cmake lib/cmake/TavrelLog/TavrelLogConfigVersion.cmake
      bin/tavrel-stored-data include/tavrellog/tavrellog.h
      lib/libcrashreport_capture.a lib/libcrashreport_autostart.a lib/libcrashreport_pipeline.a
      lib/libcrashreport_report.a lib/libcrashreport_delivery.a lib/libcrashreport_errorlog.a)
    if(NOT EXISTS ${prefix}/${f})
      message(FATAL_ERROR "the installed package lacks ${f}")
    endif()
  endforeach()
  # The public header alone: the reporter's own headers stay in the source tree.
  file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
  if(NOT headers STREQUAL "tavrellog/tavrellog.h")
    message(FATAL_ERROR "the prefix's include/ holds more than tavrellog/tavrellog.h: ${headers}")
  endif()

  # The version: 5.1 is taken, another major version refused.
  foreach(asked 5.1 4.0 6.0)
    set(probe ${WORK_DIR}/version-${asked})
    file(MAKE_DIRECTORY ${probe})
    file(WRITE ${probe}/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)\nproject(probe LANGUAGES CXX)\n"
      "find_package(TavrelLog ${asked} CONFIG REQUIRED)\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${probe} -B ${probe}/build -G Ninja -DCMAKE_PREFIX_PATH=${prefix}
      "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(asked STREQUAL "5.1" AND NOT status EQUAL 0)
      message(FATAL_ERROR "find_package(TavrelLog 5.1) refused:\n${out}\n${err}")
    elseif(NOT asked STREQUAL "5.1" AND (status EQUAL 0 OR NOT err MATCHES "5\\.1\\.5"))
      message(FATAL_ERROR "find_package(TavrelLog ${asked}) was not refused (${status}):\n${out}\n${err}")
    endif()
  endforeach()

  # The programs are configured by a CMake that knows nothing of the source
  # tree: only the prefix leads to the package.
  configure_and_build(${EXAMPLE_DIR} ${WORK_DIR}/minimal -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix})
  strip_program(${WORK_DIR}/minimal/app app)
  execute_process(COMMAND ${app} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out MATCHES "no crash asked for")
    message(FATAL_ERROR "the program without a crash ended with ${status}:\n${out}\n${err}")
  endif()
  # One link line and the stored options: the whole reporter, nothing called.
  # Each failure is reported on standard output with the failing frame's
  # unit, class, procedure and line and kept in the log. A failure of the
  # program ends it; one on a thread ends that thread, and the program goes on.
  line_of(${EXAMPLE_DIR}/main.cpp "// the fault" fault_line)
  line_of(${EXAMPLE_DIR}/main.cpp "// the throw" throw_line)
  foreach(kind crash throw thread)
    if(kind STREQUAL "crash")
      report_row("ParseRecord\\(int\\)" ${fault_line} row)
    else()
      report_row("ReadHeader\\(int\\)" ${throw_line} row)
    endif()
    file(REMOVE ${WORK_DIR}/app.tlf)
    execute_process(COMMAND ${app} ${kind} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if((status EQUAL 0 AND NOT kind STREQUAL "thread") OR NOT out MATCHES "${row}")
      message(FATAL_ERROR "app ${kind} (${status}) does not report the failing frame (${row}):\n${out}\n${err}")
    endif()
    if(NOT EXISTS ${WORK_DIR}/app.tlf)
      message(FATAL_ERROR "app ${kind} kept no log beside the program")
    endif()
  endforeach()

  # The same program with make and pkg-config (examples/make), no CMake.
  file(MAKE_DIRECTORY ${WORK_DIR}/make)
  execute_process(COMMAND make -f ${EXAMPLE_DIR}/../make/Makefile CXX=${CXX_COMPILER}
      PKG_CONFIG_PATH=${prefix}/lib/pkgconfig "CXXFLAGS=-O2 ${EXTRA_FLAGS}" "LDFLAGS=${EXTRA_FLAGS}"
    WORKING_DIRECTORY ${WORK_DIR}/make RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the Makefile program did not build (${status}):\n${out}\n${err}")
  endif()
  run(${STRIP} ${WORK_DIR}/make/app)
  execute_process(COMMAND ${WORK_DIR}/make/app crash RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  report_row("ParseRecord\\(int\\)" ${fault_line} row)
  if(status EQUAL 0 OR NOT out MATCHES "${row}")
    message(FATAL_ERROR "the Makefile program (${status}) does not report the failing frame:\n${out}\n${err}")
  endif()

  configure_and_build(${AUTOSTART_DIR} ${WORK_DIR}/autostart -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
    -DCMAKE_PREFIX_PATH=${prefix})
  check_autostart(${WORK_DIR}/autostart/autostart_app)
elseif(MODE STREQUAL "desktop")
  if("$ENV{DISPLAY}" STREQUAL "")
    message(STATUS "package_desktop: skipped, no X server in DISPLAY")
    return()
  endif()
  foreach(tool xdotool xwininfo timeout)
    find_program(found_${tool} ${tool})
    if(NOT found_${tool})
      message(STATUS "package_desktop: skipped, no ${tool}")
      return()
    endif()
  endforeach()
  set(prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component TavrelLog)
  configure_and_build(${DESKTOP_DIR} ${WORK_DIR}/build -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix})
  strip_program(${WORK_DIR}/build/desktop_app app)
  line_of(${DESKTOP_DIR}/main.cpp "// the fault" fault_line)
  report_row("DrawCell\\(int\\)" ${fault_line} row)

  # With a display: the dialog appears over the program's own window, is
  # answered, and the log keeps the report.
  execute_process(COMMAND sh ${DESKTOP_DIR}/drive.sh ${app} ${WORK_DIR}/dialog-run.txt
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(READ ${WORK_DIR}/dialog-run.txt said)
  message(STATUS "the dialog run: ${out}\nthe program said:\n${said}")
  if(NOT status EQUAL 0 OR NOT out MATCHES "dialog: [0-9]+" OR NOT said MATCHES "window: shown")
    message(FATAL_ERROR "no exception dialog over the program's window (${status}):\n${out}\n${err}\n${said}")
  endif()
  if(out MATCHES "status: 0\n" OR said MATCHES "${row}")
    message(FATAL_ERROR "the dialog run ended well or wrote the report to the console:\n${out}\n${said}")
  endif()
  expect_log(${WORK_DIR}/desktop_app.tlf "${row}" "the dialog run" log)

  # Without a display: the same program reports on standard output.
  file(REMOVE ${WORK_DIR}/desktop_app.tlf)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY ${app} crash
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(status EQUAL 0 OR NOT out MATCHES "window: none" OR NOT out MATCHES "${row}")
    message(FATAL_ERROR "without a display (${status}) no console report of the failing frame:\n${out}\n${err}")
  endif()
  if(NOT EXISTS ${WORK_DIR}/desktop_app.tlf)
    message(FATAL_ERROR "the console run kept no log beside the program")
  endif()

  # The same program without CMake, linked with tavrellog-desktop.pc: the
  # desktop start is in it, and it reports with function and line.
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  execute_process(COMMAND pkg-config --cflags --libs tavrellog-desktop x11 RESULT_VARIABLE status
    OUTPUT_VARIABLE pc_flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not find tavrellog-desktop:\n${err}")
  endif()
  execute_process(COMMAND pkg-config --variable=storeddatatool tavrellog OUTPUT_VARIABLE tool
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")
  set(pc_app ${WORK_DIR}/pc_app)
  run(${CXX_COMPILER} -O2 ${extra} -o ${pc_app}.part ${DESKTOP_DIR}/main.cpp ${pc_flags})
  execute_process(COMMAND nm -C ${pc_app}.part OUTPUT_VARIABLE symbols)
  if(NOT symbols MATCHES "StartDesktopReporter")
    message(FATAL_ERROR "the program linked with tavrellog-desktop has no desktop start")
  endif()
  run(${tool} write ${pc_app}.part --options ${DESKTOP_DIR}/options.txt --version 3.0.0.1 --description Desktop)
  run(${STRIP} -o ${pc_app} ${pc_app}.part)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY ${pc_app} crash
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(status EQUAL 0 OR NOT out MATCHES "${row}")
    message(FATAL_ERROR "the program linked with tavrellog-desktop (${status}) does not report the failing frame:\n${out}\n${err}")
  endif()

  # A GTK 3 program with TavrelLog::Desktop: a fault in a button's handler
  # shows the exception dialog over the GTK window, the log names the
  # handler and its line, and after "OK" the window still answers; a main
  # loop blocked for longer than FreezeSeconds is reported once.
  execute_process(COMMAND pkg-config --exists gtk+-3.0 RESULT_VARIABLE has_gtk)
  find_program(found_import import)
  if(NOT has_gtk EQUAL 0 OR NOT found_import)
    message(STATUS "package_desktop: the GTK part skipped, no gtk+-3.0 or no import")
    return()
  endif()
  configure_and_build(${GTK_DIR} ${WORK_DIR}/gtk-build -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix})
  strip_program(${WORK_DIR}/gtk-build/gtk_app gtk_app)
  line_of(${GTK_DIR}/main.cpp "// the fault" gtk_fault_line)
  report_row("OnCrashClicked\\(_GtkButton\\*, void\\*\\)" ${gtk_fault_line} gtk_row)
  file(REMOVE ${WORK_DIR}/gtk_app.tlf)
  execute_process(COMMAND sh ${GTK_DIR}/drive.sh ${gtk_app} ${WORK_DIR}/gtk-run.txt ${WORK_DIR}/gtk-dialog.png
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(READ ${WORK_DIR}/gtk-run.txt said)
  message(STATUS "the GTK run: ${out}\nthe program said:\n${said}")
  if(NOT status EQUAL 0 OR NOT out MATCHES "answered after the fault" OR NOT out MATCHES "answered after the freeze"
     OR NOT out MATCHES "status: 0\n")
    message(FATAL_ERROR "the GTK program did not go on after its reports (${status}):\n${out}\n${err}\n${said}")
  endif()
  expect_log(${WORK_DIR}/gtk_app.tlf "${gtk_row}" "the GTK run" log)
  string(REGEX MATCHALL "The GTK program stopped answering\\." frozen "${log}")
  list(LENGTH frozen frozen_count)
  if(NOT frozen_count EQUAL 1)
    message(FATAL_ERROR "the GTK program's freeze was reported ${frozen_count} times, not once:\n${log}")
  endif()
elseif(MODE STREQUAL "subdirectory")
  set(build ${WORK_DIR}/autostart)
  set(launcher)
  if(LAUNCHER)
    set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER})
  endif()
  run(${CMAKE_COMMAND} -S ${AUTOSTART_DIR} -B ${build} -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel
    -DTAVRELLOG_SOURCE_DIR=${SOURCE_DIR} ${launcher} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER}
    "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
  # Nothing of the toolkit, and the program gets the reporter's settings.
  file(READ ${build}/build.ninja ninja)
  foreach(absent platform_ui platform_gdi platform_avifile converter_core libX11 cairo pango avcodec)
    if(ninja MATCHES "${absent}")
      message(FATAL_ERROR "the reporter-only build still has ${absent}")
    endif()
  endforeach()
  string(REGEX MATCH "build CMakeFiles/autostart_app.dir/main.cpp.o[^\n]*\n( [^\n]*\n)*" app_compile "${ninja}")
  foreach(flag "-g" "-fnon-call-exceptions" "-fasynchronous-unwind-tables")
    if(NOT app_compile MATCHES " ${flag}( |\n)")
      message(FATAL_ERROR "the program is not compiled with ${flag}:\n${app_compile}")
    endif()
  endforeach()
  if(NOT ninja MATCHES "-rdynamic")
    message(FATAL_ERROR "the program is not linked with -rdynamic")
  endif()
  run(${CMAKE_COMMAND} --build ${build})
  check_autostart(${build}/autostart_app)
else()
  message(FATAL_ERROR "MODE is package or subdirectory")
endif()
