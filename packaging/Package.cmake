# The Debian package: `cmake --build build --target package` writes
# zelupdate_<version>_<architecture>.deb into the build folder, with everything that
# `cmake --install` installs, under /usr. Included by the top-level CMakeLists.txt after every
# folder that installs something.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelupdate)
set(CPACK_PACKAGE_VENDOR ZEL)
set(CPACK_PACKAGE_CONTACT "${ZELUPDATE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ZELUPDATE_HOMEPAGE}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "firmware updater for the ControlPanel and the ZEL02 control board")
set(CPACK_PACKAGE_DESCRIPTION
    "zelUpdate updates the firmware of two pieces of equipment over USB: the
ControlPanel, a USB HID device (03eb:2402), and the ZEL02 control board
behind it, which the ControlPanel reaches on the PC's behalf. It writes an
Intel HEX file into the target's flash, reads every written page back and
compares it with the file.

The package holds the windowed program zelUpdate with its menu entry, the
command-line program zelupdate-cli, and a udev rule that lets the user
logged in at the seat open the ControlPanel without root.")

# Dependencies come from the libraries the executables link (dpkg-shlibdeps); Debian ships
# executables without their debugging sections.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

# postinst and postrm reload udev's rules; they must be 0755 and owned by root.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
                                       ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Folders that CPack creates get these, whatever the umask of whoever builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Every install component goes into the one package except the udev rule's source-install copy,
# which packaging/CMakeLists.txt replaces by one in /usr/lib/udev/rules.d.
get_cmake_property(zel_components COMPONENTS)
list(REMOVE_ITEM zel_components udev-rule-source)
set(CPACK_COMPONENTS_ALL ${zel_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

include(CPack)
