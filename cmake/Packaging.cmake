# The Debian package, built with `cpack -G DEB` from a built tree. It holds what cmake/Install.cmake
# installs, under /usr.

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "orvanevpn")
set(CPACK_PACKAGE_VENDOR "Qaromac")
set(ORVANE_PACKAGE_MAINTAINER "OrvaneVPN developers <dev@orvane.test>" CACHE STRING
    "Maintainer named in the Debian package, as 'Name <address>'")
set(CPACK_PACKAGE_CONTACT "${ORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Kept to short lines: each becomes one line of the control file's long description.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "A tray icon and one main window: sign in with e-mail and password, see the"
    "membership, its expiry and the traffic left, pick a node or the automatic best"
    "route, choose rule or global routing, and connect or disconnect. The tunnel"
    "runs in a provider process of its own, shipped inside the application bundle,"
    "through a small privileged service that drives WireGuard.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# Packages carry no debugging information; the build tree keeps it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The build number orders successive packages of the same version.
set(CPACK_DEBIAN_PACKAGE_RELEASE "${ORVANE_BUILD_NUMBER}")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
# Depends on the libraries the programs link, as dpkg-shlibdeps finds them (needs dpkg-dev and
# file). What the client only starts or uses at run time is recommended: xdg-open for the
# service's pages, pkexec for the privileged script, the CJK font the artwork names. Any Secret
# Service will do for the keychain, so the keyring is only suggested.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tunnel service runs the userspace WireGuard engine; its package scripts enable the
# service's socket and sweep the host when the package goes. The client loads libsecret when it
# first needs the keychain (src/platform/Keychain.cpp), so dpkg-shlibdeps does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "wireguard-go, libsecret-1-0 (>= 0.18)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/resources/packaging/tunnel-service/postinst"
    "${CMAKE_SOURCE_DIR}/resources/packaging/tunnel-service/prerm"
    "${CMAKE_SOURCE_DIR}/resources/packaging/tunnel-service/postrm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, pkexec, fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
