# Whole-docklet tests of checking mail: the workers against scripted servers,
# and the counts against the private Dovecot of the fixture "dovecot".
function(add_mail_docklet_tests target)
  add_executable(${target} ${ARGN} host_run_win.cpp png_files_win.cpp)
  target_compile_definitions(${target} PRIVATE
    TIDEWELL_HOST_EXE="$<TARGET_FILE:tidewell-host>"
    TIDEWELL_DOCKLET_DLL="$<TARGET_FILE:TidewellDocklet>"
    TIDEWELL_SHIPPED_FOLDER="${TIDEWELL_DIST_DIR}"
    TIDEWELL_BUILT_IN_CLIENTS_DLL="$<TARGET_FILE:built_in_clients_docklet>"
    TIDEWELL_SAMPLE_MICROSOFT_CLIENT_ID="${TIDEWELL_SAMPLE_MICROSOFT_CLIENT_ID}"
    TIDEWELL_SAMPLE_GOOGLE_CLIENT_ID="${TIDEWELL_SAMPLE_GOOGLE_CLIENT_ID}"
    TIDEWELL_SAMPLE_GOOGLE_CLIENT_SECRET="${TIDEWELL_SAMPLE_GOOGLE_CLIENT_SECRET}"
    TIDEWELL_PROBE_DLL="$<TARGET_FILE:probe_docklet>"
    TIDEWELL_TEST_WORK_DIR="${CMAKE_CURRENT_BINARY_DIR}/work")
  add_dependencies(${target} tidewell-host TidewellDocklet probe_docklet built_in_clients_docklet)
  target_link_libraries(${target} PRIVATE host_portable scripted_server dovecot_support blackhole_proxy tls_scenes gdiplus
                        GTest::gtest_main)
  target_compile_options(${target} PRIVATE ${TIDEWELL_WARNINGS})
  target_link_options(${target} PRIVATE -static)
endfunction()

add_mail_docklet_tests(worker_docklet_tests workers_test.cpp)
gtest_discover_tests(worker_docklet_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES FIXTURES_REQUIRED tls_servers)
# A name lookup that blocks, made safe by a resolver of our own that never answers.
add_test(NAME WorkersTeardown.WhileResolvingOnASilentResolver
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/silent_dns.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
          $<TARGET_FILE:worker_docklet_tests> --gtest_filter=WorkersTeardown.WhileResolving)
set_tests_properties(WorkersTeardown.WhileResolvingOnASilentResolver PROPERTIES
  TIMEOUT 120 FAIL_REGULAR_EXPRESSION "SKIPPED|FAILED" SKIP_RETURN_CODE 77)

add_mail_docklet_tests(dovecot_docklet_tests mail_counts_test.cpp stress_test.cpp)
gtest_discover_tests(dovecot_docklet_tests TEST_FILTER -DovecotOAuth.*:*.AResume* DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 120 PROPERTIES FIXTURES_REQUIRED dovecot)
# Sign-ins script the stand-in OAuth2 server, whose behaviour is one for all.
gtest_discover_tests(dovecot_docklet_tests TEST_FILTER DovecotOAuth.* DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES FIXTURES_REQUIRED dovecot RESOURCE_LOCK oauth)
# A resume from sleep reaches a hidden top-level window, which Wine makes only
# with a display: an Xvfb and a Wine prefix of the test's own.
add_test(NAME DovecotWake.AResumeChecksAtOnce
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/with_display.sh ${TIDEWELL_WINEPREFIX}-display
          $<TARGET_FILE:dovecot_docklet_tests> --gtest_filter=*.AResume*)
set_tests_properties(DovecotWake.AResumeChecksAtOnce PROPERTIES FIXTURES_REQUIRED dovecot
  RESOURCE_LOCK display TIMEOUT 180 FAIL_REGULAR_EXPRESSION "SKIPPED|FAILED")
