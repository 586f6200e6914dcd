# For scripts run as `cmake -D... -P SCRIPT -- command args...`: sets `command` to the list of
# arguments after the `--`.
set(command "")
set(collect OFF)
foreach(i RANGE ${CMAKE_ARGC})
    if(collect AND DEFINED CMAKE_ARGV${i})
        list(APPEND command "${CMAKE_ARGV${i}}")
    elseif("${CMAKE_ARGV${i}}" STREQUAL "--")
        set(collect ON)
    endif()
endforeach()
