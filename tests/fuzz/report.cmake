# The log file's loader: arbitrary bytes as a log file's text, then every
# stored report's fields, sections and XML rendering.
vek_add_fuzzer(fuzz_report_log
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/report_log_fuzz.cpp
  LIBS crashreport_report)
