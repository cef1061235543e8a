# kvo_library(NAME DIR LIBS...): one static library from every .cpp under DIR except main.cpp
# and the folders below DIR that are libraries of their own (they hold a CMakeLists.txt).
function(kvo_library name dir)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  file(GLOB_RECURSE own_lists CONFIGURE_DEPENDS ${dir}/*/CMakeLists.txt)
  foreach(own ${own_lists})
    get_filename_component(own_dir ${own} DIRECTORY)
    list(FILTER sources EXCLUDE REGEX "^${own_dir}/")
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# kvo_program(NAME MAIN LIBS...): a deliverable program, built into build/bin/.
function(kvo_program name main)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${main})
    add_executable(${name} ${main})
    target_link_libraries(${name} PRIVATE ${ARGN})
    set_property(GLOBAL APPEND PROPERTY KVO_PROGRAMS ${name})
  endif()
endfunction()

# kvo_test_suite(NAME DIR [WHOLE] LIBS...): one GoogleTest program from every .cpp in DIR and the
# folders below it (which follow the folders of the code they test), built into build/tests/.
# Each test is its own ctest test, unless WHOLE asks for the program to run as one (for suites
# whose tests share an expensive set-up). Suites run one after another: several of them watch
# the machine's process list.
function(kvo_test_suite name dir)
  set(libs ${ARGN})
  list(FIND libs WHOLE whole)
  list(REMOVE_ITEM libs WHOLE)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${libs} kvo_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KVO_BIN_DIR="${KVO_BIN_DIR}"
    KVO_TEST_HELPER_DIR="${CMAKE_BINARY_DIR}/tests/helpers"
    KVO_CORPUS_DIR="${KVO_CORPUS_DIR}"
    KVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(whole GREATER -1)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()
