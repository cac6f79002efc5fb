# A private JACK server for tests that need a real MIDI server: JACK 2 with its dummy driver, so
# no sound hardware or D-Bus is needed. It runs with real-time scheduling where the user may (CI
# runs as root), and warns where not (scripts/jack-fixture says why).
#
#   include(${PROJECT_SOURCE_DIR}/cmake/JackFixture.cmake)
#   corvane_use_jack(<test> ...)
#
# corvane_use_jack makes each test require the CTest fixture "JackServer" and sets
# JACK_DEFAULT_SERVER (and JACK_NO_START_SERVER) in its environment. The fixture's setup test
# "jack_server_start" starts the server and waits until it answers; its cleanup test
# "jack_server_stop" stops it, and CTest runs the cleanup even when tests fail. Selecting a test
# (ctest -R, -L) brings the fixture tests along. The server's name is made from the build
# folder, so build trees do not share a server; scripts/jack-fixture stops a server left over by
# an interrupted run, and every server ends by itself after 30 minutes.

set(CORVANE_JACK_FIXTURE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../scripts/jack-fixture)

function(corvane_jack_fixture)
  get_property(defined GLOBAL PROPERTY CORVANE_JACK_FIXTURE_DEFINED)
  if(defined)
    return()
  endif()
  set_property(GLOBAL PROPERTY CORVANE_JACK_FIXTURE_DEFINED TRUE)

  string(MD5 hash "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${hash}" 0 10 hash)
  set(server "corvane-test-${hash}")
  set_property(GLOBAL PROPERTY CORVANE_JACK_SERVER "${server}")
  set(state "${CMAKE_BINARY_DIR}/jack-fixture")

  add_test(NAME jack_server_start COMMAND ${CORVANE_JACK_FIXTURE_SCRIPT} start ${server} ${state})
  add_test(NAME jack_server_stop COMMAND ${CORVANE_JACK_FIXTURE_SCRIPT} stop ${server} ${state})
  set_tests_properties(jack_server_start PROPERTIES FIXTURES_SETUP JackServer TIMEOUT 60 LABELS jack)
  set_tests_properties(jack_server_stop PROPERTIES FIXTURES_CLEANUP JackServer TIMEOUT 60 LABELS jack)
endfunction()

# Call in the folder that added the tests.
function(corvane_use_jack)
  corvane_jack_fixture()
  get_property(server GLOBAL PROPERTY CORVANE_JACK_SERVER)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED JackServer)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                 "JACK_DEFAULT_SERVER=${server}" "JACK_NO_START_SERVER=1" "JACK_NO_AUDIO_RESERVATION=1")
    set_property(TEST ${test} APPEND PROPERTY LABELS jack)
    # One MIDI test at a time, so that the tests do not see each other's ports come and go. Other
    # tests run beside them: the server and its clients' process threads run with real-time
    # scheduling (scripts/jack-fixture), which ordinary load cannot delay.
    set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK jack_server)
  endforeach()
endfunction()
