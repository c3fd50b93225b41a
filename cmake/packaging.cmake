# Packages of what cmake/install.cmake installs: `cpack -G DEB` in a Linux build, `cpack -G ZIP`
# and `cpack -G NSIS` (an installer, made by Debian's makensis) in the Windows cross-build.
set(CPACK_PACKAGE_NAME pyrelink)
set(CPACK_PACKAGE_VENDOR "The Pyrelink developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "service tool for 607X set-top-box decoders over RS-232")
set(CPACK_PACKAGE_DESCRIPTION
    "Pyrelink puts a 607X set-top-box decoder (deco) into service mode over a
serial line, reads its 2 MB flash firmware, 2 KB EEPROM and 512 KB channel
list into files and writes them back by three methods (write once; write,
verify and rewrite; verify and write what differs).
It comes as a window (pyrelink), a command line for scripted and batch work
(pyrelink-cli) and a simulated deco on a pseudo-terminal (pyrelink-sim), so
that it can be tried without hardware.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pyrelink-${PROJECT_VERSION}-win64)
  # The installer: a 64-bit program (its stub is amd64-unicode), into Program Files\Pyrelink,
  # with a Start-menu entry for the window, an entry in the installed programs with the version,
  # and an uninstaller; /S installs and uninstalls it silently.
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Pyrelink)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Pyrelink)
  set(CPACK_NSIS_PACKAGE_NAME "Pyrelink ${PROJECT_VERSION}")
  set(CPACK_NSIS_DISPLAY_NAME "Pyrelink ${PROJECT_VERSION}")
  set(CPACK_NSIS_PUBLISHER "${CPACK_PACKAGE_VENDOR}")
  if(TARGET pyrelink)
    set(CPACK_NSIS_INSTALLED_ICON_NAME pyrelink.exe)
    set(CPACK_PACKAGE_EXECUTABLES pyrelink "Pyrelink")
  else()
    set(CPACK_NSIS_INSTALLED_ICON_NAME pyrelink-cli.exe)
  endif()
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # pyrelink_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Pyrelink developers <pyrelink@example.org>"
      CACHE STRING "Maintainer field of the .deb")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the programs link, with their versions, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(TARGET pyrelink)
    # The window cannot start without a platform plugin, which Debian's Qt only recommends.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
  endif()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
