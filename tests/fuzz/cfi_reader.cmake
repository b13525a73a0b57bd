# The call-frame information reader: arbitrary bytes as a module's
# .eh_frame_hdr with its .eh_frame, looked up and evaluated.
vek_add_fuzzer(fuzz_cfi_reader
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cfi_reader_fuzz.cpp
  LIBS crashreport_stack)
