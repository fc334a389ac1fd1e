# Test support for both builds.
#
# qmt_add_gtest(NAME <name> SOURCES <files...> [LIBS <targets...>] [WINE_ONLY] [LABELS <labels...>])
#   Builds a GoogleTest program and registers it with CTest. In the Windows build it runs under Wine through the
#   cross-compiling emulator (tests/harness/wine-run) in the build's private prefix; in the native build it runs
#   directly, under the sanitizers when QMT_SANITIZE is on. WINE_ONLY tests are skipped by the native build.

set(QMT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT TARGET gtest AND NOT QMT_FUZZ)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QMT_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

if(WIN32)
  set(QMT_WINE_STATE ${CMAKE_BINARY_DIR}/wine CACHE INTERNAL "")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/harness/wine-run ${QMT_WINE_STATE})
  # One prefix for the whole run: prepared before the first Windows test, its wineserver and display ended after
  # the last.
  add_test(NAME wine.prefix.start COMMAND ${PROJECT_SOURCE_DIR}/tests/harness/wine-prefix start ${QMT_WINE_STATE})
  add_test(NAME wine.prefix.stop COMMAND ${PROJECT_SOURCE_DIR}/tests/harness/wine-prefix stop ${QMT_WINE_STATE})
  set_tests_properties(wine.prefix.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine.prefix.stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

function(qmt_add_gtest)
  cmake_parse_arguments(T "WINE_ONLY" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_WINE_ONLY AND NOT WIN32)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} qmt_flags GTest::gtest GTest::gmock GTest::gtest_main)
  if(WIN32)
    set(prefix win)
  else()
    set(prefix native)
  endif()
  add_test(NAME ${prefix}.${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  set_tests_properties(${prefix}.${T_NAME} PROPERTIES TIMEOUT 600 LABELS "${prefix};${T_LABELS}")
  if(WIN32)
    set_tests_properties(${prefix}.${T_NAME} PROPERTIES FIXTURES_REQUIRED wine)
  else()
    # Allocations that are allowed to fail are tested with impossible sizes: let them return null.
    set_tests_properties(${prefix}.${T_NAME} PROPERTIES
      ENVIRONMENT "ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
  endif()
endfunction()

# A test that runs a command as is (a shell script or a build-time tool), with the Wine fixture in the Windows build.
function(qmt_add_script_test NAME)
  add_test(NAME ${NAME} COMMAND ${ARGN})
  set_tests_properties(${NAME} PROPERTIES TIMEOUT 600)
  if(WIN32)
    set_tests_properties(${NAME} PROPERTIES FIXTURES_REQUIRED wine LABELS win
      ENVIRONMENT "QMT_WINE_STATE=${QMT_WINE_STATE}")
  endif()
endfunction()
