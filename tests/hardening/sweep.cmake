# The hostile-input sweep over every member of every creatable class (tests/hardening/sweep.cpp).
# A crash under Wine exits with 0 after the debugger's report, so that report fails the test, and
# the summary line must say that no call failed.
add_executable(hostile_sweep ${CMAKE_SOURCE_DIR}/tests/hardening/sweep.cpp ${QARN_IDL_DIR}/QarnComDatatypes_i.c)
add_dependencies(hostile_sweep QarnComConnector_idl QarnComDatatypes_idl)
target_include_directories(hostile_sweep PRIVATE ${CMAKE_SOURCE_DIR} ${QARN_IDL_DIR})
target_compile_definitions(hostile_sweep PRIVATE QARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(hostile_sweep PRIVATE qarncom ole32 oleaut32 uuid user32 ws2_32)
set_target_properties(hostile_sweep PROPERTIES CROSSCOMPILING_EMULATOR ${QARN_EMULATOR}
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)
add_test(NAME hostile_sweep COMMAND hostile_sweep)
set_tests_properties(hostile_sweep PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${QARN_TEST_ENV}" TIMEOUT 240
  FAIL_REGULAR_EXPRESSION "wine: Unhandled;CRASH:;HANG:"
  PASS_REGULAR_EXPRESSION "hostile sweep: [0-9]+ calls over [0-9]+ members of [0-9]+ classes in [0-9]+ s, 0 failed")
