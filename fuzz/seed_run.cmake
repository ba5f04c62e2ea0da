# One fuzz target's ctest test: its seed corpus and 10000 inputs more from a fixed seed, each new
# input kept in a corpus of the build's own (emptied first, so that every run is the same), never
# in the committed seeds.
# Usage: cmake -DFUZZER=... -DSEEDS=... -DCORPUS=... [-DDICT=...] -P seed_run.cmake
get_filename_component(target ${FUZZER} NAME)
set(options -runs=10000 -seed=1)
if(DICT)
  list(APPEND options -dict=${DICT})
endif()
file(REMOVE_RECURSE ${CORPUS})
file(MAKE_DIRECTORY ${CORPUS})
execute_process(COMMAND ${FUZZER} ${options} ${CORPUS} ${SEEDS} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${target} failed (${status})")
endif()
