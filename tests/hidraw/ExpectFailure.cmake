# cmake -DPATTERN=regex -P ExpectFailure.cmake -- command args...
# Passes when the command fails and its output matches PATTERN: shows that a check can fail.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/CommandAfterDashes.cmake)
# umockdev-run, stopped by the failure, leaves its testbed folder behind in the temporary folder:
# give it one of its own and remove that afterwards. Short, in the system's temporary folder,
# since umockdev puts Unix sockets there and their paths are limited to 108 bytes.
execute_process(COMMAND mktemp -d -t zelUpdate-expect-failure.XXXXXX RESULT_VARIABLE made
                OUTPUT_VARIABLE scratch OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT made EQUAL 0)
    message(FATAL_ERROR "cannot make a temporary folder")
endif()
set(ENV{TMPDIR} "${scratch}")
execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
file(REMOVE_RECURSE "${scratch}")
message("${output}")
if(result EQUAL 0)
    message(FATAL_ERROR "the command passed, but it must fail")
endif()
if(NOT output MATCHES "${PATTERN}")
    message(FATAL_ERROR "the command failed, but not with '${PATTERN}'")
endif()
message("failed as it must (${result}), with '${PATTERN}'")
