# Run by `cmake --install`: installs the udev rule, or says why it does not and how to add it.
# udev reads rules only from /etc, /run, /usr/lib and /lib: a rule under a user's prefix would
# never be read, and a user's install cannot write those folders.
set(rules_dir "${LUMEXOR_UDEV_RULES_DIR}")
if(NOT IS_ABSOLUTE "${rules_dir}")
    set(rules_dir "${CMAKE_INSTALL_PREFIX}/${rules_dir}")
endif()
set(install_rule "${LUMEXOR_INSTALL_UDEV_RULE}")
if(install_rule STREQUAL "AUTO")
    set(install_rule OFF)
    cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${rules_dir}" NORMALIZE rules_under_prefix)
    if(CMAKE_INSTALL_PREFIX MATCHES "^/(usr(/local)?|opt(/.*)?)?/*$" OR rules_under_prefix)
        set(install_rule ON)
    endif()
endif()
get_filename_component(rule_name "${LUMEXOR_UDEV_RULE}" NAME)
if(install_rule)
    file(INSTALL DESTINATION "${rules_dir}" TYPE FILE FILES "${LUMEXOR_UDEV_RULE}")
elseif(LUMEXOR_INSTALL_UDEV_RULE STREQUAL "AUTO")
    message(STATUS "Not installing the udev rule: udev reads no rules under ${CMAKE_INSTALL_PREFIX}. "
                   "For access to the devices, add it as root: "
                   "install -m 644 ${LUMEXOR_UDEV_RULE} /etc/udev/rules.d/${rule_name} && "
                   "udevadm control --reload && udevadm trigger")
endif()
