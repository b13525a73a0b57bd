# The DNS reply parser of the mail-exchanger lookup.
vek_add_fuzzer(fuzz_dns_reply
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dns_reply_fuzz.cpp
  LIBS platform_net)
