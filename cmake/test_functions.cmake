# The architecture a Windows tree is built for, as scripts/wine-env.sh names it (QRV_ARCH).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(QRV_ARCH x64)
else()
  set(QRV_ARCH x86)
endif()
# What every Windows test run needs: its architecture and the tree's private Wine prefix.
set(QRV_WINE_TEST_ENVIRONMENT "QRV_ARCH=${QRV_ARCH};QRV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
# The status scripts/wine-run.sh exits with when the machine cannot run the tree's programs.
set(QRV_SKIP_STATUS 77)

# Registers a Windows test run (a command through scripts/wine-run.sh or a script like it) with
# the tree's Wine environment, extra environment entries and properties.
function(qrv_add_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "COMMAND;ENVIRONMENT;PROPERTIES")
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "${QRV_WINE_TEST_ENVIRONMENT};${arg_ENVIRONMENT}"
    SKIP_RETURN_CODE ${QRV_SKIP_STATUS} TIMEOUT 600 ${arg_PROPERTIES})
endfunction()

# Windows test executables. Each gets a folder of its own (tests place INI files beside the
# module they exercise) and is one CTest test, run under Wine of the tree's architecture by
# scripts/wine-run.sh.
function(qrv_add_windows_test name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${name})
  target_link_libraries(${name} PRIVATE qrv_wintest)
  qrv_add_wine_test(${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${name}>)
endfunction()

# Native test executables (portable core), built with the sanitizers of the native preset.
function(qrv_add_native_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
