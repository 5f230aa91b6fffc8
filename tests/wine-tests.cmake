# The tests that run in both architectures, each against the DLLs of one build folder in that
# folder's own Wine prefix (the fixture registers the DLLs and the test doubles there): the 64-bit
# build defines them for itself (no suffix) and, when QARN_X86_BUILD_DIR names a 32-bit build
# folder, once more with the suffix "_x86" for that folder, so that one CTest run covers both.
# A crash ends a process under Wine with exit code 0 after the debugger's report: that report
# ("wine: Unhandled") fails every test. On a machine that cannot run 32-bit programs
# (QARN_X86_SKIP_REASON, from scripts/x86-probe.sh) the x86 tests are reported as skipped.
#   qarn_wine_tests(<suffix> <x64|x86> <build dir> <unit_tests.exe> <hostile_sweep.exe>
#                   <host_safety.exe> <out_of_memory.exe> <QarnClientSample.exe>)
function(qarn_wine_tests suffix arch dir unit sweep safety memory client)
  set(env "QARN_BUILD_DIR=${dir};QARN_ARCH=${arch}")
  set(fixture wine${suffix})
  set(run bash ${CMAKE_SOURCE_DIR}/tests/run-wine.sh)
  set(skip "")
  if("${arch}" STREQUAL "x86")
    set(skip "${QARN_X86_SKIP_REASON}")
  endif()
  # qarn_wine_add(<name> <timeout> <command...> [PROPERTIES ...]): a test of this folder under the fixture.
  macro(qarn_wine_add name timeout)
    if(skip)
      qarn_skipped_test(${name}${suffix} "${skip}")
    else()
      cmake_parse_arguments(t "" "" "PROPERTIES" ${ARGN})
      add_test(NAME ${name}${suffix} COMMAND ${t_UNPARSED_ARGUMENTS})
      set_tests_properties(${name}${suffix} PROPERTIES FIXTURES_REQUIRED ${fixture} ENVIRONMENT "${env}" TIMEOUT ${timeout}
        FAIL_REGULAR_EXPRESSION "wine: Unhandled" ${t_PROPERTIES})
    endif()
  endmacro()

  if(NOT skip)
    add_test(NAME wine_prefix_setup${suffix} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/test-prefix.sh setup ${dir})
    add_test(NAME wine_prefix_cleanup${suffix} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/test-prefix.sh cleanup ${dir})
    set_tests_properties(wine_prefix_setup${suffix} PROPERTIES FIXTURES_SETUP ${fixture} ENVIRONMENT "${env}")
    set_tests_properties(wine_prefix_cleanup${suffix} PROPERTIES FIXTURES_CLEANUP ${fixture} ENVIRONMENT "${env}")
  endif()

  qarn_wine_add(unit_tests 600 ${run} ${unit} --gtest_brief=1 --gtest_filter=-Window.*)
  # Window tests need a display from the start of the Wine session (scripts/test.sh runs CTest
  # under a virtual X server); without one they report themselves skipped.
  qarn_wine_add(window_tests 300 ${run} ${unit} --gtest_filter=Window.* PROPERTIES SKIP_REGULAR_EXPRESSION "no display")

  file(GLOB scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/scripts/*.vbs ${CMAKE_SOURCE_DIR}/tests/scripts/*.js)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME)
    qarn_wine_add(script_${name} 120 bash ${CMAKE_SOURCE_DIR}/tests/run-script.sh ${script})
  endforeach()

  # Every sample script, the main job's scenario and the C++ client must end with the line "done".
  file(GLOB samples CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/samples/vbscript/*.vbs ${CMAKE_SOURCE_DIR}/samples/jscript/*.js)
  foreach(sample ${samples})
    get_filename_component(name ${sample} NAME_WE)
    get_filename_component(folder ${sample} DIRECTORY)
    get_filename_component(lang ${folder} NAME)
    qarn_wine_add(sample_${lang}_${name} 120 bash ${CMAKE_SOURCE_DIR}/tests/run-sample.sh ${sample})
  endforeach()
  qarn_wine_add(sample_scenario 120 bash ${CMAKE_SOURCE_DIR}/tests/run-sample.sh ${CMAKE_SOURCE_DIR}/samples/scenario.vbs)
  qarn_wine_add(sample_cpp_client 120 bash ${CMAKE_SOURCE_DIR}/tests/run-sample.sh ${client})

  # The hostile-input sweep must report no failed call; both programs' watchdogs print "HANG:".
  qarn_wine_add(hostile_sweep 240 ${run} ${sweep} PROPERTIES
    PASS_REGULAR_EXPRESSION "hostile sweep: [0-9]+ calls over [0-9]+ members of [0-9]+ classes in [0-9]+ s, 0 failed")
  qarn_wine_add(host_safety 300 ${run} ${safety} PROPERTIES PASS_REGULAR_EXPRESSION "host safety: [0-9]+ passed, 0 failed")
  # Out of memory: every allocation failed in turn (64-bit), or the address space nearly full (32-bit).
  qarn_wine_add(out_of_memory 300 ${run} ${memory} PROPERTIES
    PASS_REGULAR_EXPRESSION "out of memory: [0-9]+ operations, [0-9]+ runs in [0-9]+ s, 0 failed")
  if(NOT skip)
    set_tests_properties(hostile_sweep${suffix} host_safety${suffix} out_of_memory${suffix} PROPERTIES
      FAIL_REGULAR_EXPRESSION "wine: Unhandled;CRASH:;HANG:")
  endif()
endfunction()

# A test that only reports itself skipped, with the reason in one line.
function(qarn_skipped_test name reason)
  add_test(NAME ${name} COMMAND bash -c "echo \"skipped: $0\"; exit 77" "${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
