# The subdirectory route: examples/minimal configured with the checkout
# added as a subdirectory, reporter only. Configuring is enough to show that
# the target and the step exist, that nothing of the toolkit is built, and
# that the program gets the reporter's compile and link settings.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR} -G Ninja
    -DCMAKE_BUILD_TYPE=MinSizeRel -DTAVRELLOG_SOURCE_DIR=${SOURCE_DIR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring failed:\n${out}\n${err}")
endif()
file(READ ${WORK_DIR}/build.ninja ninja)
foreach(absent platform_ui platform_gdi platform_avifile converter_core libX11 cairo pango avcodec)
  if(ninja MATCHES "${absent}")
    message(FATAL_ERROR "the reporter-only build still has ${absent}")
  endif()
endforeach()
string(REGEX MATCH "build CMakeFiles/app.dir/main.cpp.o[^\n]*\n( [^\n]*\n)*" app_compile "${ninja}")
foreach(flag "-g" "-fnon-call-exceptions" "-fasynchronous-unwind-tables")
  if(NOT app_compile MATCHES " ${flag}( |\n)")
    message(FATAL_ERROR "the program is not compiled with ${flag}:\n${app_compile}")
  endif()
endforeach()
if(NOT ninja MATCHES "-rdynamic")
  message(FATAL_ERROR "the program is not linked with -rdynamic")
endif()
if(NOT ninja MATCHES "tavrel-stored-data")
  message(FATAL_ERROR "the program has no stored-data step")
endif()
