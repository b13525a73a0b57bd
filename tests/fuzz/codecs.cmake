# Fuzzers of the packing codecs.
vek_add_fuzzer(fuzz_gzip_reader
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/gzip_reader_fuzz.cpp
  LIBS crashreport_codecs)
