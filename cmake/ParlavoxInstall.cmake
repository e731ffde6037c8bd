# Installing: the programs and their data files in a folder of their own (/usr/lib/parlavox), a
# link to parlavox on the PATH, the menu entry, its icons and the AppStream metainfo; and a Debian
# package of all that with CPack (scripts/package.sh builds it).
include(GNUInstallDirs)

set(PARLAVOX_INSTALL_FOLDER ${CMAKE_INSTALL_LIBDIR}/parlavox)
# Debian keeps private programs in /usr/lib/<package>, without the multiarch part.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(PARLAVOX_INSTALL_FOLDER lib/parlavox)
endif()

# Every program of apps/ that is installed beside parlavox.
set(PARLAVOX_PROGRAMS parlavox parlavox-service MessageViewer)
foreach(program IN LISTS PARLAVOX_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${PARLAVOX_INSTALL_FOLDER})
  endif()
endforeach()

file(GLOB parlavox_data_files ${CMAKE_SOURCE_DIR}/data/*.txt ${CMAKE_SOURCE_DIR}/data/*.ini
  ${CMAKE_SOURCE_DIR}/data/*.htm)
list(FILTER parlavox_data_files EXCLUDE REGEX "CMakeLists\\.txt$")
install(FILES ${parlavox_data_files} DESTINATION ${PARLAVOX_INSTALL_FOLDER})

# The mark of an installed program (platform::kInstalledMarker): its folder is never written, not
# even by root, so each user's files go to the XDG folders and removing the package leaves nothing.
file(WRITE ${CMAKE_BINARY_DIR}/parlavox-installed
  "This folder holds an installed Parlavox: each user's files go to the XDG folders.\n")
install(FILES ${CMAKE_BINARY_DIR}/parlavox-installed DESTINATION ${PARLAVOX_INSTALL_FOLDER})

# parlavox on the PATH: a relative link, so the installed tree can be moved as a whole.
file(RELATIVE_PATH parlavox_link_target /${CMAKE_INSTALL_BINDIR} /${PARLAVOX_INSTALL_FOLDER}/parlavox)
file(CREATE_LINK ${parlavox_link_target} ${CMAKE_BINARY_DIR}/parlavox-link SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/parlavox-link DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME parlavox)

# The systemd unit for a service that a team shares; installed, not enabled.
set(PARLAVOX_SERVICE_PROGRAM ${CMAKE_INSTALL_PREFIX}/${PARLAVOX_INSTALL_FOLDER}/parlavox-service)
configure_file(${CMAKE_SOURCE_DIR}/data/systemd/parlavox-service.service.in ${CMAKE_BINARY_DIR}/parlavox-service.service
  @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/parlavox-service.service DESTINATION lib/systemd/system)

set(desktop ${CMAKE_SOURCE_DIR}/data/desktop)
install(FILES ${desktop}/org.parlavox.Parlavox.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop}/org.parlavox.Parlavox.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${desktop}/parlavox.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${desktop}/parlavox-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME parlavox.png)
endforeach()

# What Debian wants of every package: the copyright file, a compressed changelog and a manual page
# (compressed without a time stamp, so the package is the same from build to build).
set(parlavox_doc ${CMAKE_BINARY_DIR}/package-doc)
file(MAKE_DIRECTORY ${parlavox_doc})
string(TIMESTAMP parlavox_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${parlavox_doc}/changelog
  "parlavox (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- Parlavox developers <maintainers@parlavox.invalid>  ${parlavox_changelog_date}\n")
file(COPY_FILE ${desktop}/parlavox.1 ${parlavox_doc}/parlavox.1)
execute_process(COMMAND gzip -n -9 -f ${parlavox_doc}/changelog ${parlavox_doc}/parlavox.1)
install(FILES ${desktop}/copyright ${parlavox_doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/parlavox)
install(FILES ${parlavox_doc}/parlavox.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_NAME parlavox)
set(CPACK_PACKAGE_VENDOR "Parlavox developers")
set(CPACK_PACKAGE_CONTACT "Parlavox developers <maintainers@parlavox.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "translator docked into Pidgin's conversation windows")
set(CPACK_PACKAGE_DESCRIPTION "Parlavox docks a translator window into each Pidgin conversation
window: received messages are shown translated, and what the user types is sent
in the partner's language. Translations and speech come from parlavox-service,
installed with it, which Parlavox starts on this computer when nothing answers
at the service's address.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Qt's platform plugin for X11 and its SVG image plugin (the window icon and the logo) are loaded
# at run time, so shlibdeps cannot see them.
# Qt's translations put its own dialogs (Save as, their questions) in the Chinese interface.
# SDL2 and libsndfile are opened when reading aloud first needs them, not linked, so that the program
# starts without them: shlibdeps cannot see them either.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, qt6-translations-l10n, libsdl2-2.0-0, libsndfile1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "pidgin, fonts-noto-color-emoji, espeak-ng-data, apertium, apertium-eng-spa, apertium-fr-es, apertium-es-pt, apertium-spa-ita, apertium-dan-nor")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
  "purple-discord, purple-rocketchat, purple-xmpp-carbons, purple-xmpp-http-upload, purple-lurch, pidgin-otr")
include(CPack)
