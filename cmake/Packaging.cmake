# Installation and packages: `cmake --install` puts the programs, their man
# pages, loopctl's bash completion, loopmon's desktop entry and the Wireshark
# dissector of the bus captures in place; CPack
# makes a .deb on Linux and a zip of the self-contained .exe files on Windows.
include(GNUInstallDirs)

set(installed_programs loopctl)
foreach(program loopsim loopmon)
  if(TARGET ${program})
    list(APPEND installed_programs ${program})
  endif()
endforeach()

if(WIN32)
  # One flat folder: the programs keep ohmgauge.kft beside themselves. The
  # README's Windows section goes along as a text file Notepad shows as it
  # is: CRLF line ends, and UTF-8 marked by a byte order mark for the Cyrillic.
  install(TARGETS ${installed_programs} RUNTIME DESTINATION .)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(FIND "${readme}" "\n## Windows\n" section_start)
  if(section_start EQUAL -1)
    message(FATAL_ERROR "README.md has no \"## Windows\" section for the Windows archive")
  endif()
  math(EXPR section_start "${section_start} + 1")
  string(SUBSTRING "${readme}" ${section_start} -1 section)
  string(FIND "${section}" "\n## " section_end)
  if(NOT section_end EQUAL -1)
    math(EXPR section_end "${section_end} + 1")
    string(SUBSTRING "${section}" 0 ${section_end} section)
  endif()
  string(REPLACE "\r\n" "\n" section "${section}")
  string(REPLACE "\n" "\r\n" section "${section}")
  string(ASCII 239 187 191 byte_order_mark)
  file(WRITE ${CMAKE_BINARY_DIR}/README-Windows.txt "${byte_order_mark}${section}")
  install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt DESTINATION .)
  # The user's guide in the users' language, in a form Windows opens well.
  install(FILES data/guide-ru.html DESTINATION .)
  # The installer puts it where Wireshark looks (data/loopmon.wxs); the zip
  # keeps it beside the programs.
  install(FILES data/wireshark/loopmon.lua DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  install(TARGETS ${installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(program IN LISTS installed_programs)
    configure_file(data/man/${program}.1 ${CMAKE_BINARY_DIR}/man/${program}.1 @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  install(FILES data/bash-completion/loopctl data/bash-completion/loopsim
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  # Debian's Wireshark loads every Lua file of its global plugin folder.
  set(wireshark_plugins lib/wireshark/plugins)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(wireshark_plugins lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
  endif()
  install(FILES data/wireshark/loopmon.lua DESTINATION ${wireshark_plugins})
  # The watch as a service, off until the administrator enables it.
  install(FILES data/systemd/loopmon-watch.service DESTINATION lib/systemd/system)
  install(FILES data/prometheus/prometheus.yml data/prometheus/loopmon-alerts.yml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/loopmon/prometheus)
  if(TARGET loopmon)
    install(FILES data/loopmon.desktop data/loopmon-demo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES data/loopmon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  endif()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME loopmon)
set(CPACK_PACKAGE_VENDOR loopmon)
set(CPACK_PACKAGE_CONTACT "loopmon maintainers <loopmon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for alarm-system devices on an RS-485 bus")
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_PACKAGE_FILE_NAME "loopmon-${PROJECT_VERSION}-windows-x64")
else()
  set(CPACK_PACKAGE_FILE_NAME
      "loopmon-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The Qt libraries loopmon links, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialogs in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
include(CPack)
