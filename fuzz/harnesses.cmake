# The fuzz harnesses as fuzz/targets.sh lists them, for fuzz/CMakeLists.txt and for the core's
# tests, which replay the corpora through the same harnesses. DRAL_FUZZ_HARNESSES names them;
# DRAL_FUZZ_SOURCE_<name> is a harness's source, DRAL_FUZZ_CORPUS_<name> its corpus folder and
# DRAL_FUZZ_DEFINITIONS_<name> its compile definitions. DRAL_FUZZ_SUPPORT_SOURCES is their
# shared code.
set(DRAL_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
file(STRINGS ${DRAL_FUZZ_DIR}/targets.sh DRAL_FUZZ_ENTRIES REGEX "^ +\"[a-z_]+ [a-z_]+ [^\"]+\"$")
set(DRAL_FUZZ_HARNESSES)
foreach(entry IN LISTS DRAL_FUZZ_ENTRIES)
  string(REGEX MATCH "\"([a-z_]+) ([a-z_]+) " matched "${entry}")
  set(harness ${CMAKE_MATCH_1})
  list(APPEND DRAL_FUZZ_HARNESSES ${harness})
  set(DRAL_FUZZ_CORPUS_${harness} ${DRAL_FUZZ_DIR}/corpus/${CMAKE_MATCH_2})
  # The two readers of Dral streams are one harness, dral_lifted with every limit but nesting
  # lifted.
  if(harness MATCHES "^dral_")
    set(DRAL_FUZZ_SOURCE_${harness} ${DRAL_FUZZ_DIR}/fuzz_dral_stream.cpp)
  else()
    set(DRAL_FUZZ_SOURCE_${harness} ${DRAL_FUZZ_DIR}/fuzz_${harness}.cpp)
  endif()
  set(DRAL_FUZZ_DEFINITIONS_${harness})
endforeach()
set(DRAL_FUZZ_DEFINITIONS_dral_lifted DRAL_FUZZ_LIFTED_LIMITS)
set(DRAL_FUZZ_SUPPORT_SOURCES ${DRAL_FUZZ_DIR}/support/dral_equal.cpp
    ${DRAL_FUZZ_DIR}/support/rfc_equal.cpp ${DRAL_FUZZ_DIR}/support/stream_mutator.cpp
    ${DRAL_FUZZ_DIR}/support/file_mutator.cpp)
