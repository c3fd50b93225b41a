# What a technician installs. On Linux: the programs into bin, the window's desktop entry and
# icon, the man pages, and the README with the licence into share/doc/pyrelink. On Windows the
# programs, README and LICENSE sit side by side at the top of the zip, ready to run.
if(WIN32)
  set(PYRELINK_INSTALL_BINDIR .)
  set(PYRELINK_INSTALL_DOCDIR .)
else()
  include(GNUInstallDirs)
  set(PYRELINK_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  # GNUInstallDirs would name the folder after the project, capital P included.
  set(PYRELINK_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/pyrelink)
endif()

install(TARGETS pyrelink-cli RUNTIME DESTINATION ${PYRELINK_INSTALL_BINDIR})
# The window is optional (PYRELINK_GUI), and on Windows it comes from its own view.
if(TARGET pyrelink)
  install(TARGETS pyrelink RUNTIME DESTINATION ${PYRELINK_INSTALL_BINDIR})
endif()
if(TARGET pyrelink-sim)
  install(TARGETS pyrelink-sim RUNTIME DESTINATION ${PYRELINK_INSTALL_BINDIR})
endif()
install(FILES README.md LICENSE DESTINATION ${PYRELINK_INSTALL_DOCDIR})

if(WIN32)
  return()
endif()

# An FTDI adapter's latency timer at 1 ms from the moment it is plugged in (udev reads the rules
# of packages under /usr/lib/udev/rules.d).
install(FILES data/udev/60-pyrelink-ftdi-latency.rules DESTINATION lib/udev/rules.d)

# Debian looks for the licence under this name.
install(FILES LICENSE DESTINATION ${PYRELINK_INSTALL_DOCDIR} RENAME copyright)

# The man pages carry the project's version; gzip -9n as Debian keeps them (the same bytes at
# every build), plain where there is no gzip.
find_program(PYRELINK_GZIP gzip)
mark_as_advanced(PYRELINK_GZIP)
set(PYRELINK_MAN_PAGES pyrelink-cli)
if(TARGET pyrelink)
  list(APPEND PYRELINK_MAN_PAGES pyrelink)
endif()
if(TARGET pyrelink-sim)
  list(APPEND PYRELINK_MAN_PAGES pyrelink-sim)
endif()
foreach(page IN LISTS PYRELINK_MAN_PAGES)
  set(man_page ${PROJECT_BINARY_DIR}/man/${page}.1)
  configure_file(data/man/${page}.1.in ${man_page} @ONLY)
  if(PYRELINK_GZIP)
    execute_process(COMMAND ${PYRELINK_GZIP} -9nc INPUT_FILE ${man_page} OUTPUT_FILE ${man_page}.gz
                    COMMAND_ERROR_IS_FATAL ANY)
    set(man_page ${man_page}.gz)
  endif()
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

if(TARGET pyrelink)
  install(FILES data/pyrelink.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES data/pyrelink.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  install(FILES data/pyrelink.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/256x256/apps)
endif()
