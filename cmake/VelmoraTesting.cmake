# One GoogleTest executable per area. In the Windows builds CTest runs it under Wine (the
# cross-compiling emulator) in the private prefix, inside the "wine" fixture that keeps one
# wineserver alive for the whole run.

if(CMAKE_CROSSCOMPILING)
  set(VELMORA_WINEPREFIX "${CMAKE_BINARY_DIR}/../wineprefix" CACHE PATH "Private Wine prefix for the tests")
  get_filename_component(VELMORA_WINEPREFIX "${VELMORA_WINEPREFIX}" ABSOLUTE)
  set(VELMORA_WINE_ENV "${CMAKE_SOURCE_DIR}/scripts/wine-env.sh")
  add_test(NAME wine_start COMMAND "${VELMORA_WINE_ENV}" start "${VELMORA_WINEPREFIX}")
  add_test(NAME wine_stop COMMAND "${VELMORA_WINE_ENV}" stop "${VELMORA_WINEPREFIX}")
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# velmora_add_test(<area> SOURCES ... [LIBS ...] [GUI])
function(velmora_add_test area)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
  set(target ${area}_tests)
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${target} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  # Under Wine the source tree is reached through drive Z:.
  if(CMAKE_CROSSCOMPILING)
    set(fixtures "Z:${CMAKE_SOURCE_DIR}/tests/fixtures")
  else()
    set(fixtures "${CMAKE_SOURCE_DIR}/tests/fixtures")
  endif()
  target_compile_definitions(${target} PRIVATE VELMORA_FIXTURES="${fixtures}")
  velmora_warnings(${target})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${area} COMMAND "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh" "${VELMORA_WINEPREFIX}"
             $<TARGET_FILE:${target}> --gtest_brief=1)
    set_tests_properties(${area} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600 SKIP_RETURN_CODE 77)
  else()
    add_test(NAME ${area} COMMAND ${target} --gtest_brief=1)
    set_tests_properties(${area} PROPERTIES TIMEOUT 600)
  endif()
endfunction()
