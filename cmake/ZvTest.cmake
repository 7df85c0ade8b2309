# One way to register a test, for every test area (tests/*, stack/*/tests,
# comtrade/tests, the fuzz passes). Included from the top level.
#
#   zv_add_gtest(<target>
#     SOURCES <file>...            the test program
#     [LIBS <lib>...] [DEFINITIONS <def>...] [INCLUDES <dir>...]
#     [DEPENDS <target>...]        programs the tests start, built first
#     [QT | OWN_MAIN]              entry point: QT the one of tests/support
#                                  (QApplication, offscreen, fixed zone),
#                                  OWN_MAIN one in SOURCES; else gtest_main
#     [WHOLE <name>]               one ctest test <name> for the whole program
#                                  instead of one per case
#     [NO_REGISTER]                build only (zv_add_test registers groups)
#     [PREFIX <p>] [PRE_TEST] [NO_PRETTY_VALUES]   case discovery
#     <test properties>)
#
#   zv_add_test(<name> COMMAND <command>... <test properties>)
#
# Test properties, the same for both:
#   [LABELS <label>...] [TIMEOUT <s>] [ENV <K=V>...] [FIXTURES <name>...]
#   [MARIADB] (the fixture "mariadb" and its environment, see
#   tests/support/MariaDBFixture.cmake) [FIXTURES_SETUP <name>]
#   [FIXTURES_CLEANUP <name>] [RESOURCE_LOCK <name>...] [RUN_SERIAL] [WILL_FAIL]
#
# scripts/test.sh selects by label: "no_asan" keeps a test out of the
# sanitizer run, "client" is the ThreadSanitizer run, "soak" the long soak.
#
# Properties of discovered cases are set by a ctest script of ours that runs
# after the discovery's: gtest_discover_tests (CMake 3.25) flattens list
# values, so that ENVIRONMENT "A=1;B=2" or LABELS "view;db" lost every
# property from their second element on.
include_guard(GLOBAL)

get_filename_component(ZV_TEST_QT_MAIN ${CMAKE_CURRENT_LIST_DIR}/../tests/support/qt_main.cpp ABSOLUTE)

set(_ZV_TEST_FLAGS MARIADB RUN_SERIAL WILL_FAIL)
set(_ZV_TEST_ONE TIMEOUT FIXTURES_SETUP FIXTURES_CLEANUP)
set(_ZV_TEST_MULTI LABELS ENV FIXTURES RESOURCE_LOCK)

# _zv_test_properties(<out> <prefix>): the property arguments of the parsed
# keywords <prefix>_*, each value one element (lists escaped).
function(_zv_test_properties out p)
  set(props)
  set(env ${${p}_ENV})
  set(fixtures ${${p}_FIXTURES})
  if(${p}_MARIADB)
    list(APPEND fixtures mariadb)
    list(APPEND env ${ZV_MARIADB_ENVIRONMENT})
  endif()
  foreach(pair "LABELS;${p}_LABELS" "ENVIRONMENT;env" "FIXTURES_REQUIRED;fixtures"
               "RESOURCE_LOCK;${p}_RESOURCE_LOCK" "TIMEOUT;${p}_TIMEOUT"
               "FIXTURES_SETUP;${p}_FIXTURES_SETUP" "FIXTURES_CLEANUP;${p}_FIXTURES_CLEANUP")
    list(GET pair 0 property)
    list(GET pair 1 var)
    if(NOT "${${var}}" STREQUAL "")
      string(REPLACE ";" "\\;" value "${${var}}")
      list(APPEND props ${property} "${value}")
    endif()
  endforeach()
  if(${p}_RUN_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(${p}_WILL_FAIL)
    list(APPEND props WILL_FAIL TRUE)
  endif()
  set(${out} "${props}" PARENT_SCOPE)
endfunction()

function(zv_add_test name)
  cmake_parse_arguments(T "${_ZV_TEST_FLAGS}" "${_ZV_TEST_ONE}" "COMMAND;${_ZV_TEST_MULTI}" ${ARGN})
  if(T_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zv_add_test(${name}): unknown arguments ${T_UNPARSED_ARGUMENTS}")
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  _zv_test_properties(props T)
  if(props)
    set_tests_properties(${name} PROPERTIES ${props})
  endif()
endfunction()

function(zv_add_gtest target)
  cmake_parse_arguments(T "QT;OWN_MAIN;NO_REGISTER;PRE_TEST;NO_PRETTY_VALUES;${_ZV_TEST_FLAGS}"
                        "WHOLE;PREFIX;${_ZV_TEST_ONE}"
                        "SOURCES;LIBS;DEFINITIONS;INCLUDES;DEPENDS;${_ZV_TEST_MULTI}" ${ARGN})
  if(T_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "zv_add_gtest(${target}): unknown arguments ${T_UNPARSED_ARGUMENTS}")
  endif()
  add_executable(${target} ${T_SOURCES})
  if(T_QT)
    find_package(Qt6 REQUIRED COMPONENTS Widgets)
    set(main ${ZV_TEST_QT_MAIN})
    if(T_MARIADB OR "mariadb" IN_LIST T_FIXTURES)
      # The entry point gives the program the private MariaDB's folder and
      # script, also when it is run by hand.
      set(main ${CMAKE_CURRENT_BINARY_DIR}/${target}_main.cpp)
      file(CONFIGURE OUTPUT ${main} CONTENT
           "#define ZVT_DB_DIR \"${ZV_MARIADB_DIR}\"\n#define ZVT_MARIADB_SH \"${ZV_MARIADB_SH}\"\n#include \"${ZV_TEST_QT_MAIN}\"\n" @ONLY)
    endif()
    target_sources(${target} PRIVATE ${main})
    target_link_libraries(${target} PRIVATE Qt6::Widgets GTest::gtest zv_test_support)
  elseif(T_OWN_MAIN)
    target_link_libraries(${target} PRIVATE GTest::gtest)
  else()
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  target_link_libraries(${target} PRIVATE ${T_LIBS})
  if(T_DEFINITIONS)
    target_compile_definitions(${target} PRIVATE ${T_DEFINITIONS})
  endif()
  if(T_INCLUDES)
    target_include_directories(${target} PRIVATE ${T_INCLUDES})
  endif()
  if(T_DEPENDS)
    add_dependencies(${target} ${T_DEPENDS})
  endif()
  if(T_NO_REGISTER)
    return()
  endif()

  _zv_test_properties(props T)
  if(T_WHOLE)
    add_test(NAME ${T_WHOLE} COMMAND ${target})
    if(props)
      set_tests_properties(${T_WHOLE} PROPERTIES ${props})
    endif()
    return()
  endif()

  # One ctest test per case.
  set(discover)
  if(T_PREFIX)
    list(APPEND discover TEST_PREFIX ${T_PREFIX})
  endif()
  if(T_PRE_TEST)
    list(APPEND discover DISCOVERY_MODE PRE_TEST)
  endif()
  if(T_NO_PRETTY_VALUES)
    list(APPEND discover NO_PRETTY_VALUES)
  endif()
  gtest_discover_tests(${target} ${discover} DISCOVERY_TIMEOUT 60 TEST_LIST ${target}_TESTS)
  if(props)
    # Bracket arguments keep the escaped lists as they are.
    set(script "if(DEFINED ${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES")
    foreach(arg IN LISTS props)
      string(REPLACE "\\;" ";" arg "${arg}")
      string(APPEND script " [==[${arg}]==]")
    endforeach()
    string(APPEND script ")\nendif()\n")
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake)
    file(CONFIGURE OUTPUT ${file} CONTENT "${script}" @ONLY)
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
  endif()
endfunction()
