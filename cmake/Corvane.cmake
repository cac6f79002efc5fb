# Shared build helpers: warnings, libraries, tests.

function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual)
  if(CORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Precompiled Qt headers. Most files include the same few Qt headers, whose parsing is most of a
# build's time: one target compiles them once and every library and test reuses its header. The
# test library's own headers stay out (they read per-test macros, which would make the header
# unusable), and every target that reuses it compiles with -pthread as the MIDI libraries ask,
# since a precompiled header is only taken with the same predefined macros.
set(CORVANE_PCH_HEADERS <QApplication> <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QLabel>
    <QList> <QObject> <QPlainTextEdit> <QPointer> <QProcess> <QPushButton> <QRegularExpression>
    <QString> <QStringList> <QTemporaryDir> <QTimer> <QWidget>)

function(corvane_precompiled_headers)
  if(NOT CORVANE_PCH)
    return()
  endif()
  set(stub ${PROJECT_BINARY_DIR}/corvane_pch_stub.cpp)
  file(WRITE ${stub} "// Compiled only for the precompiled headers of its target.\n")
  add_library(corvane_pch STATIC ${stub})
  target_link_libraries(corvane_pch PUBLIC Qt6::Widgets)
  corvane_warnings(corvane_pch)
  target_compile_options(corvane_pch PRIVATE -pthread)
  target_precompile_headers(corvane_pch PRIVATE ${CORVANE_PCH_HEADERS})
endfunction()

# corvane_use_pch(<target>): the target reuses the precompiled headers (and so sees the widget
# module's headers and macros, as they were compiled with them).
function(corvane_use_pch target)
  if(CORVANE_PCH)
    target_link_libraries(${target} PRIVATE Qt6::Widgets)
    target_compile_options(${target} PRIVATE -pthread)
    target_precompile_headers(${target} REUSE_FROM corvane_pch)
  endif()
endfunction()

# corvane_library(<name> SOURCES ... [LIBS ...]): one static library per source folder.
function(corvane_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  corvane_warnings(${name})
  corvane_use_pch(${name})
endfunction()

# corvane_test(<name> SOURCES ... [LIBS ...] [WIDGETS] [LABELS ...] [FIXTURES ...])
# One Qt Test executable registered with CTest. Widget tests run on the offscreen platform.
function(corvane_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  corvane_warnings(${name})
  corvane_use_pch(${name})
  add_test(NAME ${name} COMMAND ${name})
  # A test that runs the programs as installed (no corvane.def beside them) keeps their user
  # files in the build tree, in a folder of its own, never in the home folder of whoever runs
  # the tests.
  set(env "QT_QPA_PLATFORM=offscreen" "CORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
          "XDG_CONFIG_HOME=${PROJECT_BINARY_DIR}/test-home/${name}/config"
          "XDG_STATE_HOME=${PROJECT_BINARY_DIR}/test-home/${name}/state")
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  if(ARG_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  else()
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# corvane_test_executable(<name> SOURCES ... [LIBS ...]): a Qt Test executable that is not run
# on the offscreen platform (the caller registers it, for example on a real X display).
function(corvane_test_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  corvane_warnings(${name})
  corvane_use_pch(${name})
endfunction()
