# Runs check_example on both example files against objcopy's flat binary of each.
# Expects -DCHECKER=<check_example> -DEXAMPLES=<examples dir> -DWORK=<scratch dir>.
find_program(OBJCOPY objcopy REQUIRED)
file(MAKE_DIRECTORY "${WORK}")
foreach(target controlpanel controlboard)
    set(hex "${EXAMPLES}/${target}-example.hex")
    set(flat "${WORK}/${target}-example.bin")
    execute_process(COMMAND "${OBJCOPY}" -I ihex -O binary --gap-fill 0xff "${hex}" "${flat}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "objcopy could not convert ${hex}")
    endif()
    execute_process(COMMAND "${CHECKER}" ${target} "${hex}" "${flat}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${hex} does not load as objcopy reads it")
    endif()
endforeach()
