# vek_add_stored_data(...): the converter's name for tavrel_add_stored_data
# (same arguments; see cmake/TavrelStoredData.cmake and docs/stored-data.md).
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/TavrelStoredData.cmake)

function(vek_add_stored_data)
  tavrel_add_stored_data(${ARGN})
endfunction()
