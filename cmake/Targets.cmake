# Helpers that give every folder the same shape: one library, tests, benchmarks, fuzzers.
#
#   zelv_library(name SOURCES ... DEPS ...)
#   zelv_test(name SOURCES ... DEPS ... [GL] [TSAN] [OPTIMIZED] [LABELS ...] [TIMEOUT normal [asan [tsan]]])
#   zelv_test_timeout(test normal [asan [tsan]])
#   zelv_test_part(test part filter [COMMAND exe] [TIMEOUT normal [asan [tsan]]])
#   zelv_benchmark(name SOURCES ... DEPS ...)
#   zelv_fuzzer(name SOURCES ... DEPS ... CORPUS dir [RUNS n])

set(ZELV_TSAN_TARGETS "" CACHE INTERNAL "")
# LeakSanitizer's tracking of dynamic TLS is corrupted by Mesa's driver now and then, and its
# tracer then crashes at exit; leak checking stays on, without that tracking.
# Mesa's software rasteriser keeps one thread: the tests already fill every core side by side,
# and handing each frame to more threads cost a fifth more processor time per frame. Its threads
# are not instrumented, so under ThreadSanitizer it renders on the calling thread and the reports
# are about our code.
set(ZELV_LP_ENV ";LP_NUM_THREADS=1")
if(ZELV_TSAN)
  set(ZELV_LP_ENV ";LP_NUM_THREADS=0")
endif()

function(zelv_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_INCLUDES" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${ARG_PUBLIC_INCLUDES})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# A test, benchmark or fuzzer whose sources are not there yet (another area's half-committed
# work) must not stop everyone's configure: it becomes a test that fails and names the file.
function(zelv_missing_sources out)
  set(missing "")
  foreach(src IN LISTS ARGN)
    if(NOT IS_ABSOLUTE ${src})
      set(src ${CMAKE_CURRENT_SOURCE_DIR}/${src})
    endif()
    if(NOT EXISTS ${src})
      list(APPEND missing ${src})
    endif()
  endforeach()
  set(${out} "${missing}" PARENT_SCOPE)
endfunction()

function(zelv_placeholder_test name missing)
  message(WARNING "${name}: missing source ${missing}")
  add_test(NAME ${name} COMMAND sh -c "echo '${name}: missing source ${missing}'; exit 1")
endfunction()

function(zelv_test name)
  cmake_parse_arguments(ARG "GL;TSAN;NOMAIN;OPTIMIZED" "" "SOURCES;DEPS;LABELS;TIMEOUT" ${ARGN})
  if(ZELV_TSAN AND NOT ARG_TSAN)
    # Not built here; a named stand-in keeps fragments' add_dependencies calls valid.
    add_custom_target(${name})
    return()
  endif()
  zelv_missing_sources(missing ${ARG_SOURCES})
  if(missing)
    zelv_placeholder_test(${name} "${missing}")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  # Test bodies are light code whose optimisation (with the sanitizers' instrumentation above
  # all) took half of each build; the code under test keeps its flags, and so do tests that
  # look at their own machine code (a crash's frames found near known functions).
  if(NOT ARG_OPTIMIZED AND (ZELV_SANITIZE OR ZELV_TSAN))
    target_compile_options(${name} PRIVATE -O0)
  elseif(NOT ARG_OPTIMIZED AND CMAKE_BUILD_TYPE STREQUAL "RelWithDebInfo")
    target_compile_options(${name} PRIVATE -O1)
  endif()
  # Coverage feedback guides the fuzz targets only; in the tests it cost build time for nothing.
  if(ZELV_FUZZ)
    target_compile_options(${name} PRIVATE -fno-sanitize=fuzzer-no-link)
  endif()
  if(ARG_NOMAIN)
    target_link_libraries(${name} PRIVATE zelv_testing_nomain ${ARG_DEPS})
  else()
    target_link_libraries(${name} PRIVATE zelv_testing ${ARG_DEPS})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set(labels ${ARG_LABELS})
  if(ARG_GL)
    list(APPEND labels gl)
  endif()
  if(ARG_TSAN)
    list(APPEND labels tsan)
    set(ZELV_TSAN_TARGETS ${ZELV_TSAN_TARGETS} ${name} CACHE INTERNAL "")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  zelv_test_timeout(${name} ${ARG_TIMEOUT})
  set_tests_properties(${name} PROPERTIES
    LABELS "${labels}"
    ENVIRONMENT "MESA_GLES_VERSION_OVERRIDE=2.0;ALSOFT_DRIVERS=null;SDL_VIDEODRIVER=offscreen;SDL_AUDIODRIVER=dummy;ZELV_SOURCE_DIR=${PROJECT_SOURCE_DIR};ZELV_BINARY_DIR=${PROJECT_BINARY_DIR};ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${PROJECT_SOURCE_DIR}/testing/tsan.supp${ZELV_LP_ENV}")
endfunction()

# A test's limit tells a hang from an end and nothing else: five times or more what the entry
# takes on two quiet cores in the flavour it is built in. Given as normal [asan [tsan]]; a flavour
# left out takes the value before it. A fresh checkout has no timings of an earlier run: the
# tests given the longest time start first, so the long window runs never end a run alone on one
# core.
function(zelv_test_timeout test)
  set(values ${ARGN})
  list(LENGTH values count)
  set(index 0)
  if(ZELV_SANITIZE)
    set(index 1)
  elseif(ZELV_TSAN)
    set(index 2)
  endif()
  if(index GREATER_EQUAL count)
    math(EXPR index "${count} - 1")
  endif()
  list(GET values ${index} limit)
  set_tests_properties(${test} PROPERTIES TIMEOUT ${limit} COST ${limit})
endfunction()

# Runs part of a test's cases as an entry of its own, so that ctest runs the parts side by side:
# <test without _test>_<part>_test runs the cases `filter` names (gtest patterns joined by ':'),
# with the test's environment and labels, less the cases the test itself leaves out; the test
# then leaves them out too. COMMAND is the test's executable when the test is an entry of another.
function(zelv_test_part test part filter)
  cmake_parse_arguments(ARG "" "COMMAND" "TIMEOUT" ${ARGN})
  if(NOT TEST ${test})
    return()
  endif()
  if(NOT ARG_COMMAND)
    set(ARG_COMMAND ${test})
  endif()
  if(NOT ARG_TIMEOUT)
    get_test_property(${test} TIMEOUT ARG_TIMEOUT)
  endif()
  get_test_property(${test} ENVIRONMENT env)
  get_test_property(${test} LABELS labels)
  # The test's own filter: what it runs, and what it leaves out.
  set(positive "")
  set(negative "")
  foreach(entry IN LISTS env)
    if(entry MATCHES "^GTEST_FILTER=([^-]*)-?(.*)$")
      set(positive ${CMAKE_MATCH_1})
      set(negative ${CMAKE_MATCH_2})
    endif()
  endforeach()
  list(FILTER env EXCLUDE REGEX "^GTEST_FILTER=")
  set(part_negative ${negative})
  if(filter MATCHES "^([^-]*)-(.*)$")
    set(filter ${CMAKE_MATCH_1})
    string(JOIN ":" part_negative ${negative} ${CMAKE_MATCH_2})
  endif()
  string(REGEX REPLACE "_test$" "" stem ${test})
  set(entry ${stem}_${part}_test)
  add_test(NAME ${entry} COMMAND ${ARG_COMMAND})
  set(part_filter ${filter})
  if(part_negative)
    set(part_filter "${filter}-${part_negative}")
  endif()
  set_tests_properties(${entry} PROPERTIES LABELS "${labels}" ENVIRONMENT "${env};GTEST_FILTER=${part_filter}")
  zelv_test_timeout(${entry} ${ARG_TIMEOUT})
  string(JOIN ":" negative ${negative} ${filter})
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${env};GTEST_FILTER=${positive}-${negative}")
endfunction()

function(zelv_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ZELV_BENCH OR ZELV_SANITIZE OR ZELV_TSAN OR ZELV_FUZZ)
    return()
  endif()
  zelv_missing_sources(missing ${ARG_SOURCES})
  if(missing)
    message(WARNING "${name}: missing source ${missing}")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark zelv_testing_support ${ARG_DEPS})
endfunction()

# Fuzz targets are built only in the clang sanitizer build and run as tests for a bounded
# number of inputs over their committed seed corpus. A run that has not done its inputs by
# max_total_time ends there, green; the limit is five times that bound, so only a hang meets it.
function(zelv_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS;RUNS" "SOURCES;DEPS" ${ARGN})
  if(NOT ZELV_FUZZ)
    return()
  endif()
  if(NOT ARG_RUNS)
    set(ARG_RUNS ${ZELV_FUZZ_RUNS})
  endif()
  zelv_missing_sources(missing ${ARG_SOURCES})
  if(missing)
    zelv_placeholder_test(${name} "${missing}")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(workdir ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  set(max_total_time 120)
  math(EXPR limit "${max_total_time} * 5")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
            UBSAN_OPTIONS=halt_on_error=1 MESA_GLES_VERSION_OVERRIDE=2.0
            sh -c "mkdir -p '${workdir}' && exec '$<TARGET_FILE:${name}>' -runs=${ARG_RUNS} -max_total_time=${max_total_time} -timeout=10 -rss_limit_mb=2048 -max_len=65536 '${workdir}' '${ARG_CORPUS}'")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${limit} LABELS fuzz)
endfunction()

# One library per folder: every .cpp directly in the folder (and in src/) is compiled into
# zelv_<name>; each area of the folder adds its dependencies, tests, benchmarks and fuzzers in a
# fragment cmake/<area>.cmake, so several areas can grow in one folder side by side.
function(zelv_folder name)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  if(NOT srcs)
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/zelv_${name}_empty.cpp)
    file(WRITE ${stub} "// no sources yet\n")
    set(srcs ${stub})
  endif()
  zelv_library(zelv_${name} SOURCES ${srcs} DEPS Threads::Threads)
  file(GLOB frags CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/*.cmake)
  foreach(frag IN LISTS frags)
    include(${frag})
  endforeach()
endfunction()
