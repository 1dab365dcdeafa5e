# One library target per folder: every .cpp/.c directly in the folder belongs to it.
function(vexmir_library name)
  cmake_parse_arguments(L "SHARED" "" "" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(L_SHARED)
    add_library(${name} SHARED ${srcs})
  else()
    add_library(${name} STATIC ${srcs})
  endif()
endfunction()

# A GoogleTest executable whose cases are registered one by one with CTest under the given labels.
# FIXTURES names CTest fixtures (for example jack, emulator) that the cases need.
function(vexmir_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(env "VEXMIR_BUILD_DIR=${PROJECT_BINARY_DIR};VEXMIR_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(T_ENV)
    list(APPEND env ${T_ENV})
  endif()
  # List-valued properties (several labels, several variables) do not survive the discovery step's argument
  # passing, so they are set by a script that CTest runs after the discovered cases have been added.
  set(props_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
  set(props "LABELS [==[${T_LABELS}]==] TIMEOUT ${T_TIMEOUT} ENVIRONMENT [==[${env}]==]")
  if(T_FIXTURES)
    string(APPEND props " FIXTURES_REQUIRED [==[${T_FIXTURES}]==]")
  endif()
  file(WRITE "${props_file}"
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${props})\nendif()\n")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                       TEST_LIST ${name}_TESTS)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${props_file}")
endfunction()
