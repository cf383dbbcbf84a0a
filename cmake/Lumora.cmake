# One static library per subsystem folder (a room): every .cpp below
# src/<name> is part of lumora_<name>. New files are picked up when CMake
# re-runs (the glob is CONFIGURE_DEPENDS), so adding a source never needs an
# edit here. FOLDER names a folder other than <name> (the platform layer's
# rooms: platform/text is the library lumora_platform_text).
#
# A room's headers are reachable only through the room's own include folder,
# made in the build tree and PUBLIC on its library: rooms/<name>/ holds one
# link, named like the room's folder, to that folder (rooms/document/document
# -> src/document). Whoever links the room includes "document/TextView.h" as
# always; a room that does not link it finds no such header.
function(lumora_subsystem name)
  cmake_parse_arguments(ARG "" "FOLDER" "DEPENDS;LIBRARIES" ${ARGN})
  if(NOT ARG_FOLDER)
    set(ARG_FOLDER ${name})
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_FOLDER}/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_FOLDER}/*.h)
  add_library(lumora_${name} STATIC ${sources})
  set(root ${PROJECT_BINARY_DIR}/rooms/${name})
  get_filename_component(parent ${root}/${ARG_FOLDER} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_FOLDER} ${root}/${ARG_FOLDER} SYMBOLIC)
  target_include_directories(lumora_${name} PUBLIC ${root})
  foreach(dep IN LISTS ARG_DEPENDS)
    target_link_libraries(lumora_${name} PUBLIC lumora_${dep})
  endforeach()
  if(ARG_LIBRARIES)
    target_link_libraries(lumora_${name} PUBLIC ${ARG_LIBRARIES})
  endif()
endfunction()

# One test executable per folder under tests/, every test case registered
# with CTest. Tests run offscreen with a private HOME and XDG folders (see
# tests/support/TestMain.cpp, which also lets Qt WebEngine run as root),
# never touching the user's configuration.
#
# The time limits of a test, and of listing a program's tests, only end one
# that hangs; they are no speed check. They leave room for a build with
# sanitizers, several times slower, on a machine busy with other work.
if(LUMORA_SANITIZE)
  set(LUMORA_TEST_TIME_LIMIT 1200)
else()
  set(LUMORA_TEST_TIME_LIMIT 600)
endif()
function(lumora_test name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.h)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE lumora_test_support)
  foreach(dep IN LISTS ARG_DEPENDS)
    target_link_libraries(test_${name} PRIVATE lumora_${dep})
  endforeach()
  gtest_discover_tests(test_${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen
               TIMEOUT ${LUMORA_TEST_TIME_LIMIT})
endfunction()

# One benchmark executable per bench/*.cpp file.
function(lumora_benchmark source)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(stem ${source} NAME_WE)
  add_executable(bench_${stem} ${source})
  target_link_libraries(bench_${stem} PRIVATE lumora_bench_support benchmark::benchmark)
  foreach(dep IN LISTS ARG_DEPENDS)
    target_link_libraries(bench_${stem} PRIVATE lumora_${dep})
  endforeach()
endfunction()
