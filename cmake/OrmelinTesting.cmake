# ormelin_use_simulator(<target>)
# The one way a test or benchmark learns where tarviks-sim is: its path is compiled in as
# ORMELIN_SIM_PATH and read through tests/support/simpath.h.
function(ormelin_use_simulator target)
  target_compile_definitions(${target} PRIVATE ORMELIN_SIM_PATH="$<TARGET_FILE:tarviks-sim>")
  add_dependencies(${target} tarviks-sim)
endfunction()

# ormelin_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [TIMEOUT <s>])
# One QtTest executable per test, registered with CTest. Everything a test needs from its
# surroundings is built in (ormelin_testenv: the offscreen platform and the sanitizers'
# settings; the simulator's path), so it runs the same on its own as under ctest.
function(ormelin_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ormelin_testenv Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  ormelin_use_simulator(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
