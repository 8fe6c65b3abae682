# Installation and packages: `cmake --install` puts the programs, their man
# pages, loopctl's bash completion and loopmon's desktop entry in place; CPack
# makes a .deb on Linux and a zip of the self-contained .exe files on Windows.
include(GNUInstallDirs)

set(installed_programs loopctl)
foreach(program loopsim loopmon)
  if(TARGET ${program})
    list(APPEND installed_programs ${program})
  endif()
endforeach()

if(WIN32)
  # One flat folder: the programs keep ohmgauge.kft beside themselves.
  install(TARGETS ${installed_programs} RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  install(TARGETS ${installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(program IN LISTS installed_programs)
    configure_file(data/man/${program}.1 ${CMAKE_BINARY_DIR}/man/${program}.1 @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  install(FILES data/bash-completion/loopctl
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  if(TARGET loopmon)
    install(FILES data/loopmon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES data/loopmon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME loopmon)
set(CPACK_PACKAGE_VENDOR loopmon)
set(CPACK_PACKAGE_CONTACT "loopmon maintainers <loopmon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for alarm-system devices on an RS-485 bus")
set(CPACK_PACKAGE_FILE_NAME
    "loopmon-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The Qt libraries loopmon links, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
