# The udev rule that lets the user at the seat (and the plugdev group) open the devices.
#
# LUMEXOR_UDEV_RULES_DIR: where it goes, by default the rules folder of the udev the system has
# (`pkg-config --variable=udevdir udev`, /lib/udev without udev.pc), so that a package puts it
# where udev reads packaged rules. LUMEXOR_INSTALL_UDEV_RULE: AUTO installs it only where udev
# can see it, that is for a system prefix (/usr, /usr/local, /opt/...: an install by the
# machine's administrator or a package) or when the folder lies under the prefix; an install
# under a user's own prefix (`--prefix ~/.local`) skips it and says how to add it. ON always
# installs it, OFF never.
pkg_get_variable(udev_dir udev udevdir)
if(NOT udev_dir)
    set(udev_dir /lib/udev)
endif()
set(LUMEXOR_UDEV_RULES_DIR "${udev_dir}/rules.d" CACHE PATH "udev rules folder for the device rule")
set(LUMEXOR_INSTALL_UDEV_RULE AUTO CACHE STRING "Install the udev rule: AUTO, ON or OFF")
set_property(CACHE LUMEXOR_INSTALL_UDEV_RULE PROPERTY STRINGS AUTO ON OFF)
if(NOT LUMEXOR_INSTALL_UDEV_RULE MATCHES "^(AUTO|ON|OFF)$")
    message(FATAL_ERROR "LUMEXOR_INSTALL_UDEV_RULE must be AUTO, ON or OFF")
endif()

# The prefix is the one of the install (`cmake --install --prefix` may change it), so the
# decision is taken then, by installudevrule.cmake.
install(CODE "set(LUMEXOR_UDEV_RULE \"${PROJECT_SOURCE_DIR}/packaging/linux/70-lumexor-norby.rules\")
set(LUMEXOR_UDEV_RULES_DIR \"${LUMEXOR_UDEV_RULES_DIR}\")
set(LUMEXOR_INSTALL_UDEV_RULE \"${LUMEXOR_INSTALL_UDEV_RULE}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/installudevrule.cmake)
