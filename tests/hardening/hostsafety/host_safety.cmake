# The host-safety stress program (tests/hardening/hostsafety): several apartments, MTA threads
# and processes using the server at once.
file(GLOB QARN_HOST_SAFETY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/hardening/hostsafety/*.cpp)
add_executable(host_safety ${QARN_HOST_SAFETY_SOURCES}
  ${QARN_IDL_DIR}/QarnComConnector_i.c ${QARN_IDL_DIR}/QarnComDatatypes_i.c)
add_dependencies(host_safety QarnComConnector_idl QarnComDatatypes_idl)
target_include_directories(host_safety PRIVATE ${CMAKE_SOURCE_DIR} ${QARN_IDL_DIR})
target_compile_definitions(host_safety PRIVATE QARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_options(host_safety PRIVATE -municode)
target_link_libraries(host_safety PRIVATE qarncom ole32 oleaut32 uuid user32 psapi)
set_target_properties(host_safety PROPERTIES CROSSCOMPILING_EMULATOR ${QARN_EMULATOR}
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)
# Its test: tests/wine-tests.cmake.
