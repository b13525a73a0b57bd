# The options' stream form: arbitrary bytes fed to LoadFromStream.
vek_add_fuzzer(fuzz_options_stream
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/options_stream_fuzz.cpp
  LIBS crashreport_options)
