# The .deb, built by `cpack` in a build folder configured with CMAKE_INSTALL_PREFIX=/usr (so the
# udev rule goes to the system's rules folder): dependencies from the shared libraries the
# programs link (dpkg-shlibdeps), the copyright and changelog where Debian looks for them, and
# maintainer scripts that make udev apply the rule at once.
set(deb_name lumexor-capture-config)
set(deb_doc ${CMAKE_INSTALL_DATADIR}/doc/${deb_name})
# The licence notice goes with every install, as the licence asks.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${deb_doc})
# What only Debian reads only in a distribution's tree.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(deb_changelog ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
    add_custom_command(OUTPUT ${deb_changelog}
        COMMAND gzip -9n < ${CMAKE_CURRENT_LIST_DIR}/changelog > ${deb_changelog}
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
        VERBATIM)
    add_custom_target(deb-changelog ALL DEPENDS ${deb_changelog})
    install(FILES ${deb_changelog} DESTINATION ${deb_doc})
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${deb_name})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${deb_name})
set(CPACK_PACKAGE_VENDOR "Lumexor Systems Inc")
set(CPACK_PACKAGE_CONTACT "Lumexor Systems Inc <support@lumexor.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure and update Norby USB 3 capture devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Lumexor Capture Config lists the attached Norby USB 3 video-capture devices
(KESTREL3, OSPREYX3, HARRIER3, KESTREL3 4K), also those in a repair state or in
the boot loader, flashes firmware packages into them, brings bricked devices
back, and reads and writes their settings. lumexor-capture-cli does the same
from a shell, with JSON output, and updates many devices at once. The udev
rule lets the user at the seat and the plugdev group open the devices.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Installed with DESTDIR under the real prefix: the udev rule's install decides by the prefix
# (a system one gets the rule), so it must see /usr, not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/lumexor-systems/lumexor-capture-config")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# cpack in a folder with another prefix would package a local install's layout under /usr.
set(deb_check ${CMAKE_BINARY_DIR}/CPackDebPrefix.cmake)
file(WRITE ${deb_check} "if(NOT \"${CMAKE_INSTALL_PREFIX}\" STREQUAL \"/usr\")
    message(FATAL_ERROR \"The .deb is built in a folder configured with -DCMAKE_INSTALL_PREFIX=/usr\")
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${deb_check})
include(CPack)
