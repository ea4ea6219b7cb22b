# Tests labelled "tsan" are the threaded units; the ThreadSanitizer build makes only these.
add_custom_target(oxa_tsan_tests)

# oxa_add_gtest(<name> SOURCES ... LIBS ... [LABELS ...])
# One test executable, registered with ctest as one test.
function(oxa_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT OXA_TESTS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    if("tsan" IN_LIST ARG_LABELS)
      add_dependencies(oxa_tsan_tests ${name})
    endif()
  endif()
endfunction()

# oxa_add_fuzzer(<name> SOURCES ... LIBS ...)
# libFuzzer target when OXA_FUZZ is on (clang); otherwise the same entry point is
# built against a small driver that replays the corpus directory given as arguments,
# so the harness always compiles and its seed corpus runs as a test.
function(oxa_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(OXA_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/fuzz_replay_main.cc)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(OXA_TESTS AND NOT OXA_FUZZ AND ARG_CORPUS)
    add_test(NAME ${name}_replay COMMAND ${name} ${ARG_CORPUS})
  endif()
endfunction()
