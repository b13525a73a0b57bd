# The debug data reader: arbitrary bytes as a module's debug data of any
# format version, looked up at the addresses its own units name.
vek_add_fuzzer(fuzz_debug_data
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/debug_data_fuzz.cpp
  LIBS crashreport_modules)
