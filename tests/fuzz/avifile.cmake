vek_add_fuzzer(fuzz_avi_stream SOURCES ${CMAKE_CURRENT_LIST_DIR}/avi_stream_fuzz.cpp LIBS platform_avifile)
