# The hostile-input sweep over every member of every creatable class (tests/hardening/sweep.cpp).
add_executable(hostile_sweep ${CMAKE_SOURCE_DIR}/tests/hardening/sweep.cpp ${QARN_IDL_DIR}/QarnComDatatypes_i.c)
add_dependencies(hostile_sweep QarnComConnector_idl QarnComDatatypes_idl)
target_include_directories(hostile_sweep PRIVATE ${CMAKE_SOURCE_DIR} ${QARN_IDL_DIR})
target_compile_definitions(hostile_sweep PRIVATE QARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(hostile_sweep PRIVATE qarncom ole32 oleaut32 uuid user32 ws2_32)
set_target_properties(hostile_sweep PROPERTIES CROSSCOMPILING_EMULATOR ${QARN_EMULATOR}
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)
# Its test: tests/wine-tests.cmake.
