# `cpack -G DEB` in a build tree makes brindle_<version>_amd64.deb from what `cmake --install`
# lays out, absolute paths such as /etc/xdg/autostart included.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brindle)
set(CPACK_PACKAGE_VENDOR "Brindle")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "planner with reminders and alarms that ring on time")
set(CPACK_PACKAGE_DESCRIPTION "Brindle hosts one planner web page in a window of its own and makes\n\
the planner's reminders and alarms go off on the machine, whether or not the page is open:\n\
reminders as desktop notifications, alarms with a looping sound and a panel on top of every\n\
window, also after a restart and after the machine wakes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brindle developers <developers@brindle.app>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brindle.app/")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the binary links come from dpkg-shlibdeps; what it starts or loads by name is
# listed here: bubblewrap for the web view's sandbox, GStreamer's WAV decoder and a sink that
# reaches the sound server, xdg-open for links that leave the planner.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "bubblewrap, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, \
gstreamer1.0-pulseaudio | gstreamer1.0-pipewire, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_BINARY_DIR}/package/conffiles")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/conffiles.cmake")
include(CPack)
