# The tests that run in both architectures, each against the DLLs of one build folder in that
# folder's own Wine prefix: the fixture registers the DLLs and the test doubles (with the 32-bit
# regsvr32 for x86), the unit tests, script tests, samples, the scenario, the C++ client, the
# hostile-input sweep and the host-safety stress program. The 64-bit build defines them for
# itself (no suffix) and, when QARN_X86_BUILD_DIR names a 32-bit build folder, once more with the
# suffix "_x86" for that folder (scripts/test.sh builds both), so that one CTest run covers both.
#
#   qarn_wine_tests(<suffix> <x64|x86> <build dir> <unit_tests.exe> <hostile_sweep.exe>
#                   <host_safety.exe> <QarnClientSample.exe>)
#
# A crash ends the process under Wine with exit code 0 once its debugger has printed the report:
# that report fails every test.
function(qarn_wine_tests suffix arch dir unit sweep safety client)
  set(env "QARN_BUILD_DIR=${dir};QARN_ARCH=${arch}")
  set(fixture wine${suffix})
  set(run bash ${CMAKE_SOURCE_DIR}/tests/run-wine.sh)

  add_test(NAME wine_prefix_setup${suffix} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/test-prefix.sh setup ${dir})
  add_test(NAME wine_prefix_cleanup${suffix} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/test-prefix.sh cleanup ${dir})
  set_tests_properties(wine_prefix_setup${suffix} PROPERTIES FIXTURES_SETUP ${fixture} ENVIRONMENT "${env}")
  set_tests_properties(wine_prefix_cleanup${suffix} PROPERTIES FIXTURES_CLEANUP ${fixture} ENVIRONMENT "${env}")

  add_test(NAME unit_tests${suffix} COMMAND ${run} ${unit} --gtest_brief=1 --gtest_filter=-Window.*)
  set_tests_properties(unit_tests${suffix} PROPERTIES FIXTURES_REQUIRED ${fixture} ENVIRONMENT "${env}" TIMEOUT 600
    FAIL_REGULAR_EXPRESSION "wine: Unhandled")
  # Tests of windows (the tray icon) need a display from the start of the Wine session, since
  # Wine's desktop process keeps the display driver it started with: scripts/test.sh runs all of
  # CTest under a virtual X server. Without a display these tests report themselves skipped.
  add_test(NAME window_tests${suffix} COMMAND ${run} ${unit} --gtest_filter=Window.*)
  set_tests_properties(window_tests${suffix} PROPERTIES FIXTURES_REQUIRED ${fixture} ENVIRONMENT "${env}" TIMEOUT 300
    FAIL_REGULAR_EXPRESSION "wine: Unhandled" SKIP_REGULAR_EXPRESSION "no display")

  file(GLOB scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/scripts/*.vbs ${CMAKE_SOURCE_DIR}/tests/scripts/*.js)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME)
    add_test(NAME script_${name}${suffix} COMMAND bash ${CMAKE_SOURCE_DIR}/tests/run-script.sh ${script})
    set_tests_properties(script_${name}${suffix} PROPERTIES FIXTURES_REQUIRED ${fixture} ENVIRONMENT "${env}" TIMEOUT 120)
  endforeach()

  # Every script in samples/vbscript and samples/jscript, the main job's scenario and the C++
  # client run as tests, so that the samples keep working: each must end with the line "done"
  # (tests/run-sample.sh).
  file(GLOB samples CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/samples/vbscript/*.vbs ${CMAKE_SOURCE_DIR}/samples/jscript/*.js)
  set(sample_tests)
  foreach(sample ${samples})
    get_filename_component(name ${sample} NAME_WE)
    get_filename_component(folder ${sample} DIRECTORY)
    get_filename_component(lang ${folder} NAME)
    add_test(NAME sample_${lang}_${name}${suffix} COMMAND bash ${CMAKE_SOURCE_DIR}/tests/run-sample.sh ${sample})
    list(APPEND sample_tests sample_${lang}_${name}${suffix})
  endforeach()
  add_test(NAME sample_scenario${suffix}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/run-sample.sh ${CMAKE_SOURCE_DIR}/samples/scenario.vbs)
  add_test(NAME sample_cpp_client${suffix} COMMAND bash ${CMAKE_SOURCE_DIR}/tests/run-sample.sh ${client})
  set_tests_properties(${sample_tests} sample_scenario${suffix} sample_cpp_client${suffix} PROPERTIES
    FIXTURES_REQUIRED ${fixture} ENVIRONMENT "${env}" TIMEOUT 120)

  # The hostile-input sweep over every member of every creatable class: the summary line must say
  # that no call failed.
  add_test(NAME hostile_sweep${suffix} COMMAND ${run} ${sweep})
  set_tests_properties(hostile_sweep${suffix} PROPERTIES FIXTURES_REQUIRED ${fixture} ENVIRONMENT "${env}" TIMEOUT 240
    FAIL_REGULAR_EXPRESSION "wine: Unhandled;CRASH:;HANG:"
    PASS_REGULAR_EXPRESSION "hostile sweep: [0-9]+ calls over [0-9]+ members of [0-9]+ classes in [0-9]+ s, 0 failed")

  # The host-safety stress program; its watchdog prints "HANG:" for a section that does not end.
  add_test(NAME host_safety${suffix} COMMAND ${run} ${safety})
  set_tests_properties(host_safety${suffix} PROPERTIES FIXTURES_REQUIRED ${fixture} ENVIRONMENT "${env}" TIMEOUT 300
    FAIL_REGULAR_EXPRESSION "wine: Unhandled;HANG:"
    PASS_REGULAR_EXPRESSION "host safety: [0-9]+ passed, 0 failed")
endfunction()
