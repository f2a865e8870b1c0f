# Build helpers shared by every folder of the tree.
#
#   qova_add_library(NAME SOURCES...)           static library of one module,
#       compiled against that module's include view (docs/layering.md)
#   qova_add_executable(NAME SOURCES...)        console program that sees the tree
#   qova_add_test(NAME SOURCES... [LIBS...] [WINE])
#       GoogleTest program beside the code. Natively it is always built and
#       labelled `unit`; with WINE it is also cross-built and run under the
#       Wine harness, labelled `wine`.
#   qova_windows_path(OUT PATH)                 Z:\-style path of a host path
#   qova_add_windows_program(NAME DESCRIPTION text SOURCES... [LIBS...] DESTINATION folder)
#       one of the shipped Windows programs (see below)
#   qova_add_fuzz_target(NAME SOURCES... DEPENDS... [FLAGS...] TEST name RUNS n MAX_LEN n)
#       a libFuzzer program and its smoke test (see below)
#   qova_embed_files(OUT LIST BASE FUNC)        a C++ table of the files LIST names

if(MSVC)
  set(QOVA_WARNINGS /W4)
else()
  set(QOVA_WARNINGS -Wall -Wextra)
endif()

function(qova_warnings target)
  target_compile_options(${target} PRIVATE ${QOVA_WARNINGS})
endfunction()

# The module table of docs/layering.md, read once: for each module the
# modules it may include (QOVA_LAYER_<module> as a list; "*" for any).
file(READ ${PROJECT_SOURCE_DIR}/docs/layering.md qova_layering_text)
string(REGEX REPLACE ".*\n## Modules\n" "" qova_layering_text "${qova_layering_text}")
string(REGEX REPLACE "\n## .*" "" qova_layering_text "${qova_layering_text}")
string(REGEX MATCHALL "\n\\| `[^`]+` \\|[^\n]*" qova_layering_rows "${qova_layering_text}")
set(QOVA_LAYER_MODULES "")
foreach(row IN LISTS qova_layering_rows)
  string(REGEX MATCH "^\n\\| `([^`]+)` \\|(.*)\\|$" _ "${row}")
  set(module ${CMAKE_MATCH_1})
  set(cell "${CMAKE_MATCH_2}")
  if(cell MATCHES "^ *\\* *$")
    set(allowed "*")
  else()
    string(REGEX MATCHALL "`[^`]+`" allowed "${cell}")
    string(REPLACE "`" "" allowed "${allowed}")
  endif()
  list(APPEND QOVA_LAYER_MODULES ${module})
  set(QOVA_LAYER_${module} "${allowed}")
endforeach()
if(NOT QOVA_LAYER_MODULES)
  message(FATAL_ERROR "docs/layering.md: no module table under '## Modules'")
endif()

# qova_include_view(OUT FOLDER): the include folder for the code in FOLDER (a
# source folder of the tree). For a module of the table with a row of its
# own, a folder under the build tree that holds links to that module and to
# the modules of its row only, so that an include of any other top folder does
# not compile; for `*` rows and folders outside the table, the tree's root.
function(qova_include_view out folder)
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${folder})
  set(module "")
  foreach(candidate IN LISTS QOVA_LAYER_MODULES)
    string(LENGTH "${candidate}" length)
    string(LENGTH "${module}" best)
    if((rel STREQUAL candidate OR rel MATCHES "^${candidate}/") AND length GREATER best)
      set(module ${candidate})
    endif()
  endforeach()
  if(module STREQUAL "" OR QOVA_LAYER_${module} STREQUAL "*")
    set(${out} ${PROJECT_SOURCE_DIR} PARENT_SCOPE)
    return()
  endif()
  string(REPLACE "/" "_" id ${module})
  set(view ${CMAKE_BINARY_DIR}/include-views/${id})
  set(members ${module} ${QOVA_LAYER_${module}})
  list(SORT members)
  set(linked "")
  foreach(member IN LISTS members)
    # A member inside one already linked (common/win after common) is there.
    set(inside FALSE)
    foreach(done IN LISTS linked)
      if(member MATCHES "^${done}/")
        set(inside TRUE)
      endif()
    endforeach()
    if(inside)
      continue()
    endif()
    get_filename_component(parent ${view}/${member} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${member} ${view}/${member} SYMBOLIC)
    list(APPEND linked ${member})
  endforeach()
  set(${out} ${view} PARENT_SCOPE)
endfunction()

# A library sees only its module's view (above); it passes no include folder
# on, so every library's view holds what its own headers include. Programs
# and tests name the root themselves.
function(qova_add_library name)
  add_library(${name} STATIC ${ARGN})
  qova_include_view(view ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name} PRIVATE ${view})
  qova_warnings(${name})
endfunction()

# A console program (or a helper program of a test), compiled against its
# folder's include view like a library: the whole tree for tools/ and tests/.
function(qova_add_executable name)
  add_executable(${name} ${ARGN})
  qova_include_view(view ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name} PRIVATE ${view})
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
  # Every Windows executable, programs and test programs alike, must run on
  # a clean Windows (or Wine prefix): the C and C++ runtimes are linked in.
  if(MSVC)
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  else()
    add_link_options(-static -static-libgcc -static-libstdc++)
  endif()
  # `qova_programs` builds just the shipped programs (scripts/run); each
  # qova_add_windows_program joins it.
  add_custom_target(qova_programs)
endif()

# qova_add_windows_program(NAME DESCRIPTION text SOURCES... [LIBS...] DESTINATION folder)
#
# A shipped Windows GUI program NAME.exe, installed into DESTINATION ("." for
# the top of the package). SOURCES hold its code and its resource script;
# the script ends with `#include "program_info.rc"`, which adds the version
# record and the application manifest, both made from the templates in
# cmake/ with the project version, NAME and DESCRIPTION (plain text). The
# generated qova_version.h and program.manifest lie in
# <binary dir>/NAME_resources, which is on the program's include path with
# cmake/ (for program_info.rc); other targets that compile the same script
# (window tests) add both folders too.
# Release builds are stripped; the static runtime is set for the whole tree
# above.
function(qova_add_windows_program name)
  cmake_parse_arguments(P "" "DESCRIPTION;DESTINATION" "SOURCES;LIBS" ${ARGN})
  if(NOT P_DESCRIPTION OR NOT P_DESTINATION OR NOT P_SOURCES)
    message(FATAL_ERROR "qova_add_windows_program(${name}): DESCRIPTION, SOURCES and "
                        "DESTINATION are required")
  endif()
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${name}_resources)
  set(QOVA_PROGRAM_NAME ${name})
  string(REPLACE "\\" "\\\\" QOVA_PROGRAM_DESCRIPTION_C "${P_DESCRIPTION}")
  string(REPLACE "\"" "\\\"" QOVA_PROGRAM_DESCRIPTION_C "${QOVA_PROGRAM_DESCRIPTION_C}")
  string(REPLACE "&" "&amp;" QOVA_PROGRAM_DESCRIPTION_XML "${P_DESCRIPTION}")
  string(REPLACE "<" "&lt;" QOVA_PROGRAM_DESCRIPTION_XML "${QOVA_PROGRAM_DESCRIPTION_XML}")
  string(REPLACE ">" "&gt;" QOVA_PROGRAM_DESCRIPTION_XML "${QOVA_PROGRAM_DESCRIPTION_XML}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program_version.h.in ${generated}/qova_version.h
                 @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${generated}/program.manifest
                 @ONLY)

  # The resource compiler sees neither the manifest nor the shared script as
  # dependencies of its own.
  foreach(source ${P_SOURCES})
    if(source MATCHES "\\.rc$")
      get_filename_component(script ${source} ABSOLUTE)
      get_filename_component(folder ${script} DIRECTORY)
      set(depends ${generated}/qova_version.h ${generated}/program.manifest
                  ${PROJECT_SOURCE_DIR}/cmake/program_info.rc)
      if(EXISTS ${folder}/resource.h)
        list(APPEND depends ${folder}/resource.h)
      endif()
      set_source_files_properties(${source} PROPERTIES OBJECT_DEPENDS "${depends}")
    endif()
  endforeach()

  add_executable(${name} WIN32 ${P_SOURCES})
  qova_warnings(${name})
  qova_include_view(view ${CMAKE_CURRENT_SOURCE_DIR})
  target_include_directories(${name} PRIVATE ${view} ${CMAKE_CURRENT_SOURCE_DIR} ${generated}
                                             ${PROJECT_SOURCE_DIR}/cmake)
  target_link_libraries(${name} PRIVATE ${P_LIBS})
  if(NOT MSVC)
    # MSVC keeps its symbols in a separate file anyway.
    target_link_options(${name} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${P_DESTINATION})
  add_dependencies(qova_programs ${name})
endfunction()

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

# Fuzzing needs clang's libFuzzer, while the native tree builds with g++; a
# fuzz program is therefore compiled by clang++ straight from the sources it
# needs, whenever clang++ is there. A short run over the seed corpus in the
# folder's fuzz_corpus/ is a unit test; new inputs it finds go to the build
# folder, never into the checked-in corpus. DEPENDS names the headers whose
# change must rebuild it; FLAGS are extra compiler flags (include folders).
function(qova_add_fuzz_target name)
  cmake_parse_arguments(F "" "TEST;RUNS;MAX_LEN" "SOURCES;DEPENDS;FLAGS" ${ARGN})
  if(WIN32)
    return()
  endif()
  find_program(QOVA_CLANGXX NAMES clang++ clang++-14)
  if(NOT QOVA_CLANGXX)
    message(STATUS "clang++ not found: the fuzz program ${name} is not built")
    return()
  endif()
  set(program ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(
    OUTPUT ${program}
    COMMAND ${QOVA_CLANGXX} -std=c++17 -g -O1 -Wall -Wextra -fsanitize=fuzzer,address
            -I${PROJECT_SOURCE_DIR} ${F_FLAGS} ${F_SOURCES} -o ${program}
    DEPENDS ${F_SOURCES} ${F_DEPENDS}
    COMMENT "Building the fuzz program ${name} with clang++"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${program})
  set(scratch ${CMAKE_CURRENT_BINARY_DIR}/fuzz_scratch)
  file(MAKE_DIRECTORY ${scratch})
  add_test(NAME ${F_TEST}
           COMMAND ${program} -runs=${F_RUNS} -max_len=${F_MAX_LEN}
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/
                   ${scratch} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_corpus
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${F_TEST} PROPERTIES LABELS unit TIMEOUT 120)
endfunction()

# qova_embed_files(OUT LIST BASE FUNC)
#
# Generates OUT from the file list LIST (paths relative to BASE) with the
# table function FUNC. The list is read at configure time only to know which
# files the table depends on; a changed list reconfigures.
function(qova_embed_files out list base func)
  # What the table was made from, rewritten when that changes, so that a
  # table made from another folder, or from no list, is never taken as
  # up to date just because it is newer than the files.
  if(EXISTS ${list})
    set(source "${list}\n${base}\n")
  else()
    set(source "none\n")
  endif()
  set(stamp ${out}.source)
  set(old "")
  if(EXISTS ${stamp})
    file(READ ${stamp} old)
  endif()
  if(NOT old STREQUAL source)
    file(WRITE ${stamp} "${source}")
  endif()
  set(generate ${CMAKE_COMMAND} -DLIST=${list} -DBASE=${base} -DOUT=${out} -DFUNC=${func}
               -P ${PROJECT_SOURCE_DIR}/cmake/embed_files.cmake)
  if(NOT EXISTS ${list})
    # Without a list the table is empty. It is generated anew at every build
    # (rewritten only when it changes), so a list that appears later counts.
    message(STATUS "${list} not found: ${func}() holds no files for now")
    add_custom_target(embed_${func} ALL COMMAND ${generate} BYPRODUCTS ${out} VERBATIM)
    return()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
  set(depends ${PROJECT_SOURCE_DIR}/cmake/embed_files.cmake ${list} ${stamp})
  file(STRINGS ${list} lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*[^# \t][^ \t]*[ \t]+([^ \t]+)")
      list(APPEND depends ${base}/${CMAKE_MATCH_1})
    endif()
  endforeach()
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${generate}
    DEPENDS ${depends}
    COMMENT "Embedding the files listed in ${list}"
    VERBATIM)
endfunction()
