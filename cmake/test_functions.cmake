# Windows test executables. Each gets a folder of its own (tests place INI files beside the
# module they exercise) and is one CTest test, run under wine64 by scripts/wine-run.sh.
# The x86 tree cannot run them here; it builds them so that they keep compiling.
function(qrv_add_windows_test name)
  add_executable(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${name})
  target_link_libraries(${name} PRIVATE qrv_wintest)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "QRV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
      TIMEOUT 600)
  endif()
endfunction()

# Native test executables (portable core), built with the sanitizers of the native preset.
function(qrv_add_native_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
