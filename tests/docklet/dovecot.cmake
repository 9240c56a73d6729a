# The ctest fixture "dovecot": one private Dovecot (IMAP and POP3 on free
# ports of 127.0.0.1) started before the first test that requires it and
# stopped after the last. Tests find it through tests/support's
# dovecot_support library.
add_test(NAME dovecot.start COMMAND ${PROJECT_SOURCE_DIR}/scripts/dovecot.sh start ${TIDEWELL_DOVECOT_DIR})
set_tests_properties(dovecot.start PROPERTIES FIXTURES_SETUP dovecot TIMEOUT 60)
add_test(NAME dovecot.stop COMMAND ${PROJECT_SOURCE_DIR}/scripts/dovecot.sh stop ${TIDEWELL_DOVECOT_DIR})
set_tests_properties(dovecot.stop PROPERTIES FIXTURES_CLEANUP dovecot TIMEOUT 60)
