# Included by ctest after the process tests are listed: gives each its labels, as
# corvane_process_tests --corvane_labels wrote them when it was built (one "TEST LABEL;LABEL..."
# line per test). Until the executable is built there are no process tests to label.
if(EXISTS "${corvane_process_labels}")
  file(STRINGS "${corvane_process_labels}" corvane_lines)
  foreach(corvane_line IN LISTS corvane_lines)
    string(FIND "${corvane_line}" " " corvane_space)
    string(SUBSTRING "${corvane_line}" 0 ${corvane_space} corvane_test)
    math(EXPR corvane_space "${corvane_space} + 1")
    string(SUBSTRING "${corvane_line}" ${corvane_space} -1 corvane_labels)
    set_tests_properties("${corvane_test}" PROPERTIES LABELS "${corvane_labels}")
  endforeach()
endif()
