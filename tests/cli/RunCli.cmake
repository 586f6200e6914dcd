# cmake -DCODE=n -DOUT=regex -DERR=regex [-DSTATE=folder] -P RunCli.cmake -- command args...
# Runs the command (zelupdate-cli, under umockdev-run) and passes when it exits with CODE and its
# standard output and standard error match OUT and ERR.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/CommandAfterDashes.cmake)
if(STATE)
    # The update adds to a history of its own, not to the user's.
    file(REMOVE_RECURSE "${STATE}")
    set(ENV{XDG_STATE_HOME} "${STATE}")
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("exit status ${result}\n--- standard output\n${out}--- standard error\n${err}")
if(NOT result STREQUAL "${CODE}")
    message(FATAL_ERROR "exited with ${result}, not ${CODE}")
endif()
if(NOT out MATCHES "${OUT}")
    message(FATAL_ERROR "standard output does not match '${OUT}'")
endif()
if(NOT err MATCHES "${ERR}")
    message(FATAL_ERROR "standard error does not match '${ERR}'")
endif()
