# Installs the reporter, builds examples/minimal against the installed
# package, strips it and checks what the reporter says about its crash.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component TavrelLog)

foreach(f lib/cmake/TavrelLog/TavrelLogConfig.cmake lib/cmake/TavrelLog/TavrelLogConfigVersion.cmake
    bin/tavrel-stored-data include/crashreport/stack/debug_info.h include/platform/kernel/modules.h
    lib/libcrashreport_capture.a)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the installed package lacks ${f}")
  endif()
endforeach()

# The program is configured by a CMake that knows nothing of the source
# tree: only the prefix leads to the package.
run(${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/build -G Ninja
  -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER}
  "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

set(app ${WORK_DIR}/app)
run(${STRIP} -o ${app} ${WORK_DIR}/build/app)
execute_process(COMMAND readelf -S -W ${app} OUTPUT_VARIABLE sections)
if(sections MATCHES "\\.debug_")
  message(FATAL_ERROR "the stripped program still has DWARF:\n${sections}")
endif()
if(NOT sections MATCHES "\\.tldata")
  message(FATAL_ERROR "the stripped program has no stored data:\n${sections}")
endif()

execute_process(COMMAND ${app} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "no crash asked for")
  message(FATAL_ERROR "the program without a crash ended with ${status}:\n${out}\n${err}")
endif()

# The line of the fault, read from the source.
file(STRINGS ${EXAMPLE_DIR}/main.cpp lines)
set(n 0)
set(fault_line 0)
foreach(l IN LISTS lines)
  math(EXPR n "${n} + 1")
  if(l MATCHES "// the fault")
    set(fault_line ${n})
  endif()
endforeach()

execute_process(COMMAND ${app} crash RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "the crash ended with ${status}; the program said:\n${out}")
if(status EQUAL 0)
  message(FATAL_ERROR "the crash did not end the program:\n${out}\n${err}")
endif()
if(NOT out MATCHES "exception EAccessViolation")
  message(FATAL_ERROR "no access violation was reported:\n${out}\n${err}")
endif()
set(expected "at main.cpp app ParseRecord(int) line ${fault_line}")
string(FIND "${out}" "${expected}" at)
if(at LESS 0)
  message(FATAL_ERROR "expected \"${expected}\" in:\n${out}\n${err}")
endif()
