# What `cmake --install` puts in place and what `cpack -G DEB` packs: the program and the
# desktop program it starts for a window, its desktop entry, its icon in the hicolor theme and
# its manual page in English and German. The texts of the windows travel inside the program.
include(GNUInstallDirs)

install(TARGETS tarnwick RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
if(TARNWICK_UI)
  # Found by `tarnwick` at ../libexec/tarnwick/ from its own folder, whatever the prefix.
  install(TARGETS tarnwick-desktop RUNTIME DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/tarnwick")
endif()
install(FILES "${TARNWICK_RESOURCES_DIR}/desktop/tarnwick.desktop"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(DIRECTORY "${TARNWICK_RESOURCES_DIR}/icons/hicolor"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
install(FILES "${TARNWICK_RESOURCES_DIR}/man/tarnwick.1"
  DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${TARNWICK_RESOURCES_DIR}/man/de/tarnwick.1"
  DESTINATION "${CMAKE_INSTALL_MANDIR}/de/man1")
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/tarnwick")

set(CPACK_PACKAGE_NAME "tarnwick")
set(CPACK_PACKAGE_VENDOR "Morvane")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps web sites on FTP servers in step with local folders")
# One string: separate arguments would become a list, and its semicolons would reach the
# package's description.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tarnwick uploads what changed in a local folder to one or more FTP or FTPS servers, deletes\n"
  "what disappeared, keeps an archive of replaced files and an HTML report, and records only\n"
  "what succeeded. It runs in the notification area, from cron or as a systemd user service.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "tarnwick")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/tarnwick")
# The libraries come from dpkg-shlibdeps; Qt's platform plugins are loaded at run time, so no
# library dependency names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARNWICK_UI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
# FTPS checks server certificates against the system store, which a minimal system lacks.
# libsecret is opened only when a password is kept in the desktop keyring.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, network-manager, libsecret-1-0")
# A Secret Service keeps the passwords out of the project files; without one they stay there.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd, gnome-keyring")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")
include(CPack)
