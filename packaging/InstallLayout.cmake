# Installs the build in BUILD_DIR as a /usr package staged under STAGE (DESTDIR), so that nothing
# reaches the system even when the udev folder is absolute, and checks that the executable, the
# desktop entry and the udev rule are where a Linux desktop expects them. Validates the desktop
# entry when desktop-file-validate is there.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${STAGE}"
                        ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix /usr
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed")
endif()

set(root "${STAGE}/usr")
if(IS_ABSOLUTE "${RULESDIR}")
    set(rule "${STAGE}${RULESDIR}/70-zelupdate-controlpanel.rules")
else()
    set(rule "${root}/${RULESDIR}/70-zelupdate-controlpanel.rules")
endif()
set(desktop "${root}/${DATADIR}/applications/se.zel.zelupdate.desktop")
foreach(path "${root}/${BINDIR}/zelUpdate" "${desktop}" "${rule}")
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "not installed: ${path}")
    endif()
    message(STATUS "installed: ${path}")
endforeach()

find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
    execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${desktop}" RESULT_VARIABLE status
                    OUTPUT_VARIABLE complaints ERROR_VARIABLE complaints)
    if(NOT status EQUAL 0 OR NOT complaints STREQUAL "")
        message(FATAL_ERROR "desktop-file-validate: ${complaints}")
    endif()
    message(STATUS "desktop-file-validate: no complaints")
endif()
