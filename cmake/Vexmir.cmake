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

# The test bench for tests that cross the MIDI boundary (fixtures in tests/fixtures). Each build tree gets a JACK
# server of its own name, so that test runs of several trees on one machine do not stop each other's server; set
# VEXMIR_JACK_SERVER (or JACK_DEFAULT_SERVER when configuring) to use a server that is already running instead.
if(DEFINED ENV{JACK_DEFAULT_SERVER} AND NOT "$ENV{JACK_DEFAULT_SERVER}" STREQUAL "")
  set(vexmir_default_jack_server "$ENV{JACK_DEFAULT_SERVER}")
else()
  string(MD5 vexmir_tree_hash "${PROJECT_BINARY_DIR}")
  string(SUBSTRING "${vexmir_tree_hash}" 0 10 vexmir_tree_hash)
  set(vexmir_default_jack_server "vexmir-${vexmir_tree_hash}")
endif()
set(VEXMIR_JACK_SERVER "${vexmir_default_jack_server}" CACHE STRING "JACK server used by the e2e tests")
set(VEXMIR_TESTBENCH_STATE "${PROJECT_BINARY_DIR}/testbench")
set(VEXMIR_EMULATOR_NAME "Vexmir Synth Emulator")
set(VEXMIR_EMULATOR_SOCKET "${VEXMIR_TESTBENCH_STATE}/emulator.sock")
string(LENGTH "${VEXMIR_EMULATOR_SOCKET}" vexmir_socket_length)
if(vexmir_socket_length GREATER 100)  # a Unix socket path holds at most 107 bytes
  string(MD5 vexmir_socket_hash "${PROJECT_BINARY_DIR}")
  set(VEXMIR_EMULATOR_SOCKET "/tmp/vexmir-emulator-${vexmir_socket_hash}.sock")
endif()
set(VEXMIR_JACK_ENV "JACK_DEFAULT_SERVER=${VEXMIR_JACK_SERVER};JACK_NO_START_SERVER=1;VEXMIR_MIDI_API=jack")
set(VEXMIR_EMULATOR_ENV
    "VEXMIR_EMULATOR_SOCKET=${VEXMIR_EMULATOR_SOCKET};VEXMIR_EMULATOR_NAME=${VEXMIR_EMULATOR_NAME}"
    "VEXMIR_EMULATOR_IN_PORT=${VEXMIR_EMULATOR_NAME}:MIDI In;VEXMIR_EMULATOR_OUT_PORT=${VEXMIR_EMULATOR_NAME}:MIDI Out"
    "VEXMIR_EMULATOR_LOG=${VEXMIR_TESTBENCH_STATE}/emulator.log")

# A GoogleTest executable whose cases are registered one by one with CTest under the given labels.
# FIXTURES names CTest fixtures (for example jack, emulator) that the cases need. Tests with the jack fixture get
# the JACK server's environment; tests with the emulator fixture also get the emulator's socket and port names,
# and run one at a time because they share the one emulator. SERIAL runs each case with no other test beside it
# (for timing measured on the machine's own clock). WRAPPER names a script that runs each case (and the listing of
# cases): it gets the test program and its arguments. CASE_LABELS gives single cases a label more, as
# "label=Suite.Case" entries, so that the cases that pin one area's behaviour run alone with that label wherever
# their fixture lives.
function(vexmir_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT;WRAPPER" "SOURCES;LIBS;LABELS;FIXTURES;ENV;CASE_LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # A time-out only ends a case that hangs; ThreadSanitizer makes every step several times slower, and a loaded
  # machine slower again, so the bound grows with the build.
  if(VEXMIR_TSAN)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
  endif()
  set(env "VEXMIR_BUILD_DIR=${PROJECT_BINARY_DIR};VEXMIR_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if("jack" IN_LIST T_FIXTURES OR "emulator" IN_LIST T_FIXTURES)
    list(APPEND env ${VEXMIR_JACK_ENV})
  endif()
  if("emulator" IN_LIST T_FIXTURES)
    list(APPEND env ${VEXMIR_EMULATOR_ENV})
  endif()
  # A test without the JACK fixture never touches JACK: every probe for a server maps JACK's metadata database,
  # which each JACK server of the run deletes when it stops, and a probe at that moment dies of a bus error.
  if(NOT "jack" IN_LIST T_FIXTURES AND NOT "emulator" IN_LIST T_FIXTURES)
    list(APPEND env "VEXMIR_MIDI_API=alsa")
  endif()
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
  if("emulator" IN_LIST T_FIXTURES)
    string(APPEND props " RESOURCE_LOCK emulator")
  endif()
  if(T_SERIAL)
    string(APPEND props " RUN_SERIAL TRUE")
  endif()
  set(case_labels "")
  set(cases "")
  foreach(entry ${T_CASE_LABELS})
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 label)
    list(GET parts 1 case)
    string(MAKE_C_IDENTIFIER "${case}" key)
    list(APPEND labels_${key} ${label})
    list(APPEND cases ${case})
  endforeach()
  if(cases)
    list(REMOVE_DUPLICATES cases)
  endif()
  foreach(case ${cases})
    # A case named more than once gets every label given for it.
    string(MAKE_C_IDENTIFIER "${case}" key)
    # CTest reads this file without the policies of a project: list(FIND) rather than if(IN_LIST).
    string(APPEND case_labels "  list(FIND ${name}_TESTS \"${case}\" at)\n  if(at GREATER -1)\n"
                              "    set_tests_properties(\"${case}\" PROPERTIES LABELS [==[${T_LABELS};${labels_${key}}]==])\n"
                              "  endif()\n")
  endforeach()
  file(WRITE "${props_file}"
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${props})\n${case_labels}endif()\n")
  # End-to-end cases run once more when they fail (see tests/fixtures/retry-e2e.sh); unit tests never do.
  if("e2e" IN_LIST T_LABELS)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/fixtures/retry-e2e.sh)
  elseif(T_WRAPPER)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${T_WRAPPER})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                       TEST_LIST ${name}_TESTS)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${props_file}")
endfunction()

# Adds every direct subfolder of the calling folder that has a CMakeLists.txt: tools, tests and benchmarks keep
# one folder each.
function(vexmir_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# A test program that uses the host-call probe (tests/support/HostCallProbe.h) exports the probe's entry points, so
# that a plug-in it loads calls them.
function(vexmir_use_host_call_probe target)
  set(symbols pthread_mutex_lock pthread_mutex_trylock pthread_mutex_unlock pthread_cond_wait pthread_cond_timedwait
      pthread_cond_clockwait nanosleep clock_nanosleep usleep sem_wait sem_timedwait pthread_join poll
      jack_client_open jack_client_close jack_activate jack_deactivate jack_connect jack_disconnect
      jack_port_register jack_port_unregister jack_get_ports jack_port_get_all_connections)
  foreach(s IN LISTS symbols)
    target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=${s}")
  endforeach()
endfunction()
