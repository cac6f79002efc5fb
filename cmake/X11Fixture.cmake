# A real X display for window tests: Xvfb with one screen of a chosen size and the openbox window
# manager, so that window frames, focus, window manager keys and small screens are real (the
# offscreen platform of the other widget tests has none of them).
#
#   include(${PROJECT_SOURCE_DIR}/cmake/X11Fixture.cmake)
#   corvane_x11_test(<name> LAYOUT <W>x<H>[-panel] COMMAND <program> [args...] [ENVIRONMENT ...])
#
# Each layout is a CTest fixture "X11_<layout>": its setup test "x11_<layout>_start" starts the
# display (scripts/x11-fixture picks a free display number), its cleanup "x11_<layout>_stop"
# stops it, and CTest runs the cleanup even when tests fail. The test runs through
# scripts/x11-fixture run, which sets DISPLAY and QT_QPA_PLATFORM=xcb. Tests on one display run
# one at a time (they compete for the focus); tests are labelled x11.

set(CORVANE_X11_FIXTURE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../scripts/x11-fixture)

function(corvane_x11_fixture layout)
  get_property(defined GLOBAL PROPERTY CORVANE_X11_FIXTURE_${layout})
  if(defined)
    return()
  endif()
  set_property(GLOBAL PROPERTY CORVANE_X11_FIXTURE_${layout} TRUE)
  set(state "${CMAKE_BINARY_DIR}/x11-fixture/${layout}")
  add_test(NAME x11_${layout}_start COMMAND ${CORVANE_X11_FIXTURE_SCRIPT} start ${state} ${layout})
  add_test(NAME x11_${layout}_stop COMMAND ${CORVANE_X11_FIXTURE_SCRIPT} stop ${state})
  set_tests_properties(x11_${layout}_start PROPERTIES FIXTURES_SETUP X11_${layout} TIMEOUT 30 LABELS x11)
  set_tests_properties(x11_${layout}_stop PROPERTIES FIXTURES_CLEANUP X11_${layout} TIMEOUT 30 LABELS x11)
endfunction()

function(corvane_x11_test name)
  cmake_parse_arguments(ARG "" "LAYOUT;TIMEOUT" "COMMAND;ENVIRONMENT;RESOURCE_LOCK" ${ARGN})
  corvane_x11_fixture(${ARG_LAYOUT})
  set(state "${CMAKE_BINARY_DIR}/x11-fixture/${ARG_LAYOUT}")
  add_test(NAME ${name} COMMAND ${CORVANE_X11_FIXTURE_SCRIPT} run ${state} ${ARG_COMMAND})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED X11_${ARG_LAYOUT}
    RESOURCE_LOCK "x11_${ARG_LAYOUT};${ARG_RESOURCE_LOCK}"
    LABELS x11
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "CORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};CORVANE_X11_LAYOUT=${ARG_LAYOUT};${ARG_ENVIRONMENT}")
endfunction()
