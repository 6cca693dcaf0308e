# A test that runs the program as a user does: every such test knows the same
# executables and files, and waits for the ones it starts.
if(NOT TARGET login1_standin)
  add_executable(login1_standin ${CMAKE_CURRENT_LIST_DIR}/login1_standin.cpp)
  target_link_libraries(login1_standin PRIVATE Qt::Core Qt::DBus)
endif()

# tv_program_test(NAME n SOURCES ... [LIBS ...] [TIMEOUT s] [ENV ...] [LABELS ...] [SERIAL])
function(tv_program_test)
  cmake_parse_arguments(P "SERIAL" "NAME;TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  tv_add_test(NAME ${P_NAME} SOURCES ${P_SOURCES} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/program.h
              LIBS ${P_LIBS} TIMEOUT ${P_TIMEOUT} ENV ${P_ENV} LABELS ${P_LABELS})
  target_compile_definitions(${P_NAME} PRIVATE
    TARVELL_VORN="$<TARGET_FILE:tarvell-vorn>"
    TARVELL_CARD_SIM="$<TARGET_FILE:tarvell-card-sim>"
    LOGIN1_STANDIN="$<TARGET_FILE:login1_standin>"
    CONTROL_LIBRARY="$<TARGET_FILE:ControlLib>"
    PICTURE_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  add_dependencies(${P_NAME} tarvell-vorn tarvell-card-sim ControlLib login1_standin)
  # Real processes and real pauses: keep other tests' load off them.
  if(P_SERIAL)
    set_tests_properties(${P_NAME} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()
