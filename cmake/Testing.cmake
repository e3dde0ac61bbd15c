# GoogleTest from Debian's sources, built with whichever toolchain this build uses, and one function that
# registers a test executable with CTest. Windows-side tests run under Wine (the cross-compiling emulator),
# in the build tree's own prefix, after the prefix fixture has prepared it.

set(LUMIVANCE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest/GMock sources (Debian: googletest)")

if(LUMIVANCE_BUILD_TESTS)
  if(NOT EXISTS "${LUMIVANCE_GTEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found at ${LUMIVANCE_GTEST_SOURCE_DIR}: run scripts/install-deps")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory("${LUMIVANCE_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
  enable_testing()
endif()

# lumivance_add_gtest(<name> SOURCES <src>... [LIBS <lib>...] [DISPLAY] [DOWNLOAD_HOST <args>...]
#                     [ENVIRONMENT <VAR=value>...] [TIMEOUT <seconds>] [RUN_SERIAL] [FIXTURES <fixture>...])
# DISPLAY: the test shows windows; the runner gives it its own Xvfb and the test fails without one.
# DOWNLOAD_HOST: the runner starts tools/download_host.py with these arguments around the test and stops it
# afterwards, whatever happens; the test finds the ports and request log in its environment.
# FIXTURES: CTest fixtures the tests require besides the Wine prefix.
function(lumivance_add_gtest name)
  cmake_parse_arguments(T "DISPLAY;RUN_SERIAL" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;DOWNLOAD_HOST;FIXTURES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock_main)
  lumivance_folder_include(${name} PRIVATE tests tools)
  gtest_add_tests(TARGET ${name} TEST_LIST added)

  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(env ${T_ENVIRONMENT})
  if(WIN32)
    list(APPEND env "LUMIVANCE_NEEDS_DISPLAY=$<IF:$<BOOL:${T_DISPLAY}>,1,0>")
    if(T_DOWNLOAD_HOST)
      list(JOIN T_DOWNLOAD_HOST " " host_args)
      list(APPEND env "LUMIVANCE_WITH_DOWNLOAD_HOST=${host_args}")
    endif()
    set_tests_properties(${added} PROPERTIES FIXTURES_REQUIRED "wineprefix;${T_FIXTURES}" LABELS wine)
  endif()
  set_tests_properties(${added} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
  if(T_RUN_SERIAL)
    set_tests_properties(${added} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

# lumivance_cache_free_port(<cache var> <what it is for>): a loopback port free at configure time, kept in
# the cache, for setup variants that have their download host's port compiled in; below the ephemeral range,
# so no outgoing connection takes it before the host binds it (tools/free-port). When it has been taken
# anyway, the host fails to start and says so.
function(lumivance_cache_free_port variable purpose)
  if(${variable})
    return()
  endif()
  execute_process(
    COMMAND "${PROJECT_SOURCE_DIR}/tools/free-port"
    OUTPUT_VARIABLE port OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR NOT port)
    message(FATAL_ERROR "Could not find a free loopback port for the ${purpose}")
  endif()
  set(${variable} ${port} CACHE STRING "Loopback port compiled into the ${purpose}'s setup variants")
endfunction()
