# Build helpers shared by every folder of the tree.
#
#   qova_add_library(NAME SOURCES...)           portable static library
#   qova_add_test(NAME SOURCES... [LIBS...] [WINE])
#       GoogleTest program beside the code. Natively it is always built and
#       labelled `unit`; with WINE it is also cross-built and run under the
#       Wine harness, labelled `wine`.
#   qova_windows_path(OUT PATH)                 Z:\-style path of a host path

set(QOVA_WARNINGS -Wall -Wextra)

function(qova_warnings target)
  target_compile_options(${target} PRIVATE ${QOVA_WARNINGS})
endfunction()

function(qova_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  qova_warnings(${name})
endfunction()

# Host paths as the Windows side sees them: Wine maps / to drive Z:.
function(qova_windows_path out path)
  if(WIN32)
    set(${out} "Z:${path}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()

if(WIN32)
  set(QOVA_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-exec ${QOVA_WINE_STATE})
  # Programs must run on a clean Windows: no MinGW runtime DLLs beside them.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

macro(qova_setup_windows_gtest)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # One Xvfb display and one wine server for the whole CTest run, started and
  # stopped by the harness by their process ids.
  add_test(NAME wine_env_start
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-env start ${QOVA_WINE_STATE})
  add_test(NAME wine_env_stop
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-env stop ${QOVA_WINE_STATE})
  set_tests_properties(wine_env_start PROPERTIES FIXTURES_SETUP wine_env LABELS wine)
  set_tests_properties(wine_env_stop PROPERTIES FIXTURES_CLEANUP wine_env LABELS wine)
endmacro()

# Marks a Windows-side test as needing the harness.
function(qova_wine_test_properties test)
  set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine_env LABELS wine ${ARGN})
endfunction()

function(qova_add_test name)
  cmake_parse_arguments(T "WINE" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 AND NOT T_WINE)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  qova_warnings(${name})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  qova_windows_path(testdata ${CMAKE_CURRENT_SOURCE_DIR}/testdata)
  target_compile_definitions(${name} PRIVATE QOVA_TESTDATA_DIR="${testdata}")
  if(WIN32)
    target_link_libraries(${name} PRIVATE ${T_LIBS} qova_test_support gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    qova_wine_test_properties(${name})
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} qova_test_support GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS unit)
  endif()
endfunction()
