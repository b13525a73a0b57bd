# vek_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [LABELS <labels...>] [LOOPBACK_ONLY])
# One GoogleTest binary; each TEST becomes its own CTest case. LOOPBACK_ONLY
# (network tests) runs every case under tests/support/loopback_only.sh,
# which fails it when it reaches an address outside the loopback network.
function(vek_add_test)
  cmake_parse_arguments(T "LOOPBACK_ONLY" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  # The test files themselves are built for a quick compile: optimised for
  # debugging, with line tables and no types (two thirds of the suite's
  # compile time went to optimising GoogleTest's instantiations and writing
  # their full debug information). The code under test keeps its build
  # type's flags; so do the separate programs the tests start.
  target_compile_options(${T_NAME} PRIVATE -Og -g1)
  if(T_LOOPBACK_ONLY)
    set_target_properties(${T_NAME} PROPERTIES
      CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/support/loopback_only.sh)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${T_NAME} PRIVATE
    VEK_BUILD_DIR="${CMAKE_BINARY_DIR}" VEK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Tests on the X server share one screen, its pointer and its keyboard
  # focus: one of them at a time, beside the tests that need no display.
  set(lock "")
  if("x11" IN_LIST T_LABELS)
    set(lock RESOURCE_LOCK x11_display)
  endif()
  # The properties reach the discovered tests as one flat list of names and
  # values, where a second label would take the place of a property's name
  # (and the lock above would be lost): one label a test.
  list(LENGTH T_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "vek_add_test(${T_NAME}): one label, not \"${T_LABELS}\"")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}" ${lock})
endfunction()
