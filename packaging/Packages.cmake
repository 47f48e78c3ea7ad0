# The Debian packages, built by cpack from the install rules (see
# scripts/package.sh). Included from packaging/CMakeLists.txt.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brantwell)
set(CPACK_PACKAGE_VENDOR Corvanta)
set(CPACK_PACKAGE_CONTACT "Corvanta <brantwell@corvanta.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Packages install below /usr whatever prefix the build tree has; DESTDIR
# keeps the unit and the policy, whose places are absolute, in the package.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL daemon)
if(BRANTWELL_BUILD_APP)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${BRANTWELL_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvanta.com/brantwell")

set(CPACK_DEBIAN_DAEMON_PACKAGE_NAME brantwell)
set(CPACK_DEBIAN_DAEMON_PACKAGE_DEPENDS "adduser, dbus")
# E-mail over TLS checks the server against the system's trust store.
set(CPACK_DEBIAN_DAEMON_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_DAEMON_DESCRIPTION "syslog server with actions, alerts and a D-Bus channel
BrantwellSrv receives syslog datagrams over UDP, keeps or drops them by
include and exclude filters, and stores every kept event as one line in a
file per day below /var/lib/brantwell. It announces each event on the D-Bus
system bus, runs automatic actions (start a program, send an e-mail, write
to the journal), removes events by age and exports them to text files and
SQLite.
.
This package holds the daemon with its systemd unit and bus policy, and
brantwellctl, the command line client for administrators and scripts.
Members of the group brantwell may steer the daemon.")
set(CPACK_DEBIAN_DAEMON_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/conffiles)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME brantwell-desktop)
# Beside the libraries dpkg-shlibdeps finds, the plugins Qt loads at run
# time: the SVG image format (the severity images) and the multimedia
# backend the application chooses (FFmpeg, in libqt6multimedia6).
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS
  "brantwell (= ${PROJECT_VERSION}-${BRANTWELL_DEBIAN_REVISION}), libqt6svg6, libqt6multimedia6")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "desktop application of the Brantwell syslog server
Brantwell shows the events the Brantwell syslog server stores, as they
arrive: an event list with search and severity colours, a home page with the
server's state, reports and popup alerts. It edits every setting of the
server: filters, automatic actions, e-mail and removal by age.")

include(CPack)
