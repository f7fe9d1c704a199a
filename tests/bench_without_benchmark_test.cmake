# A configure with the benchmarks where google-benchmark is missing (a Mac
# without Homebrew's) succeeds, says in one line what it skips, and builds the
# programs that bench/schedule.py needs.
#
#   cmake -DSOURCE=DIR -DGENERATOR=NAME -DMAKE_PROGRAM=PATH -DC_COMPILER=PATH
#         -DCXX_COMPILER=PATH -DPROGRAMS=NAME,... -P bench_without_benchmark_test.cmake
set(base /tmp)
if(DEFINED ENV{TMPDIR})
  set(base $ENV{TMPDIR})
endif()
string(RANDOM LENGTH 8 suffix)
# Outside the build, which other tests read as a whole.
set(scratch ${base}/thrum-bench-without-benchmark-${suffix})

execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${scratch} -G ${GENERATOR}
    -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DBUILD_TESTING=OFF -DTHRUM_BENCH=ON -DTHRUM_WERROR=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REPLACE "," ";" programs "${PROGRAMS}")
if(status EQUAL 0)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${scratch} --target ${programs}
    RESULT_VARIABLE built OUTPUT_VARIABLE buildOut ERROR_VARIABLE buildOut)
endif()
file(REMOVE_RECURSE ${scratch})

if(NOT status EQUAL 0)
  message(FATAL_ERROR "the configure without google-benchmark failed:\n${out}")
endif()
string(REGEX MATCHALL "[^\n]*google-benchmark[^\n]*" said "${out}")
if(NOT said MATCHES "^-- Benchmarks: google-benchmark .* not found, .*_bench\\.cc programs are skipped")
  message(SEND_ERROR "the configure said '${said}', want one line naming google-benchmark and what it skips:\n${out}")
endif()
if(NOT built EQUAL 0)
  message(FATAL_ERROR "${programs} did not build without google-benchmark:\n${buildOut}")
endif()
