# tv_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [ENV VAR=value ...] [LABELS l ...])
# A QtTest executable run headless under ctest.
function(tv_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt::Test ${T_LIBS})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  # No test, nor any program a test starts, ever reaches the machine's system
  # or session bus; a test that needs one brings its own.
  set(env QT_QPA_PLATFORM=offscreen DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/tarvell-test-no-system-bus
    DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/tarvell-test-no-session-bus ${T_ENV})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
