# Test registration helpers shared by every directory.
#
# qv_native_test(NAME SOURCES... LIBS ...)    a GoogleTest program built natively
# qv_wine_test(NAME EXE [VERSION v] [DISPLAY] [ARGS ...] [TIMEOUT s])
#     runs a cross-compiled test program under wine64 in a fresh prefix of its
#     own, with the reported Windows version v (win95, win98, nt351, nt40,
#     win2k or default) and, with DISPLAY, an Xvfb display of its own.
#     Defined by tests/bench once the Windows test bench is configured.
include_guard(GLOBAL)

function(qv_native_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS native)
endfunction()
