# cmake -DBINARY=path "-DFUNCTIONS=a;b;c" -P EveryFunctionRun.cmake
# Passes when the Qt Test binary's test functions (-functions) are exactly FUNCTIONS: a binary run
# as one CTest test per function runs them all, and none is left out when a function is added.
execute_process(COMMAND ${BINARY} -functions RESULT_VARIABLE result OUTPUT_VARIABLE listed)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${BINARY} -functions exited with ${result}")
endif()
string(REGEX MATCHALL "[A-Za-z_0-9]+\\(\\)" found "${listed}")
string(REPLACE "()" "" found "${found}")
list(SORT found)
set(expected ${FUNCTIONS})
list(SORT expected)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${BINARY} has the functions\n  ${found}\nbut CTest runs\n  ${expected}")
endif()
