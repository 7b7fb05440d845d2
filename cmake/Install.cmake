# What `cmake --install` puts where, and the Debian package CPack makes of it.
#
#   bin/quillory, bin/quillory-cli, bin/quillory-phoned
#   LIBDIR/quillory/         the display's stand-in for the Vulkan loader (Wayland windows
#                            without EGL; found from bin/ as ../LIBDIR/quillory)
#   share/quillory/          the program's data: compiled skins, languages, keypad map, sounds,
#                            help (found from bin/ as ../share/quillory)
#   share/applications/      the desktop entry          ${QV_DESKTOP_ID}.desktop
#   share/icons/hicolor/scalable/apps/                  ${QV_DESKTOP_ID}.svg
#   share/metainfo/          the AppStream description  ${QV_DESKTOP_ID}.metainfo.xml
#   lib/systemd/user/quillory-phoned.service, and the call bridge's autostart entry in
#   /etc/xdg/autostart (prefix /usr) or etc/xdg/autostart
#
# The sources of the desktop files are in packaging/. Other programs of the project add their
# own install() rules at the end of this file (before the package settings), so everything that
# is installed is listed here.

include(GNUInstallDirs)

set(QV_HOMEPAGE "https://corvane.net/quillory" CACHE STRING
    "The project's web page, named in the AppStream metainfo")
set(QV_SCREENSHOT_URL "${QV_HOMEPAGE}/screenshots" CACHE STRING
    "Where the pictures of docs/screenshots are published, for the AppStream metainfo")

set(QV_DATA_DESTINATION ${CMAKE_INSTALL_DATADIR}/quillory)
set(QV_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QV_PACKAGING_BUILD_DIR ${PROJECT_BINARY_DIR}/packaging)

# --- the programs and their data ------------------------------------------------------------

install(TARGETS quillory quillory-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quillory-vulkan-standin LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillory)

# The compiled skins with their pictures, as the build makes them; not their sources, nor the
# sample skin for skin authors.
install(DIRECTORY ${PROJECT_BINARY_DIR}/bin/skins/bin/ DESTINATION ${QV_DATA_DESTINATION}/skins/bin
        FILES_MATCHING PATTERN "*.skin" PATTERN "*.bmp" PATTERN "sample*" EXCLUDE)
# The languages (every data/*.lng), the keypad map, the chimes and the help pages.
file(GLOB QV_LANGUAGE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*.lng)
install(FILES ${QV_LANGUAGE_FILES} ${PROJECT_SOURCE_DIR}/data/keyboard.txt
              ${PROJECT_SOURCE_DIR}/data/Voicbeep.wav ${PROJECT_SOURCE_DIR}/data/RecEnd.wav
              ${PROJECT_SOURCE_DIR}/data/MarkTick.wav
        DESTINATION ${QV_DATA_DESTINATION})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/help DESTINATION ${QV_DATA_DESTINATION})

# --- desktop entry, icon, AppStream metainfo --------------------------------------------------

# The desktop entry starts the installed binary by its full path, so it works whatever the
# prefix and PATH are; the prefix is known only at install time (`--prefix`, CPack's /usr). It
# is written then straight to its place: two installs side by side into different prefixes must
# not share a file in the build tree.
install(CODE "
  set(QV_TEMPLATE \"${QV_PACKAGING_DIR}/quillory.desktop.in\")
  set(entry
      \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/${QV_DESKTOP_ID}.desktop\")
  set(QV_OUTPUT \"\$ENV{DESTDIR}\${entry}\")
  set(QV_DESKTOP_ID \"${QV_DESKTOP_ID}\")
  set(QV_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  message(STATUS \"Installing: \${QV_OUTPUT}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/DesktopEntry.cmake\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${entry}\")
")

install(FILES ${QV_PACKAGING_DIR}/quillory.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QV_DESKTOP_ID}.svg)

# The screenshots the metainfo shows: file in docs/screenshots, then its caption. The first is
# the default one.
set(QV_SCREENSHOTS
    "main.png|Notes and call recordings in one list"
    "recording.png|Recording, with the input level and the voice switch"
    "playback.png|Playing a note"
    "keypad.png|Finding notes with the phone keypad")
set(QV_METAINFO_SCREENSHOTS "")
set(kind " type=\"default\"")
foreach(entry IN LISTS QV_SCREENSHOTS)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 file)
  list(GET parts 1 caption)
  string(APPEND QV_METAINFO_SCREENSHOTS
         "    <screenshot${kind}>\n"
         "      <caption>${caption}</caption>\n"
         "      <image>${QV_SCREENSHOT_URL}/${file}</image>\n"
         "    </screenshot>\n")
  set(kind "")
endforeach()
# Every version has its entry in the metainfo's release list.
file(READ ${QV_PACKAGING_DIR}/quillory.metainfo.xml.in QV_METAINFO_TEMPLATE)
if(NOT QV_METAINFO_TEMPLATE MATCHES "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "packaging/quillory.metainfo.xml.in has no release ${PROJECT_VERSION}")
endif()
configure_file(${QV_PACKAGING_DIR}/quillory.metainfo.xml.in
               ${QV_PACKAGING_BUILD_DIR}/${QV_DESKTOP_ID}.metainfo.xml @ONLY)
install(FILES ${QV_PACKAGING_BUILD_DIR}/${QV_DESKTOP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# --- other programs of the project append their rules here -----------------------------------

# The call bridge with its systemd user unit and its autostart entry (for sessions without
# systemd; under systemd the unit is the one to enable). The unit names the installed binary,
# so it is written at install time, when the prefix is known, straight to its place: two
# installs side by side into different prefixes must not share a file in the build tree.
install(TARGETS quillory-phoned RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(CODE "
  set(QV_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(unit \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/quillory-phoned.service\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${unit}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/data/linux/quillory-phoned.service.in\"
                 \"\$ENV{DESTDIR}\${unit}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit}\")
")
# Autostart entries of a system install (/usr, as the package has it) belong in /etc; any other
# prefix keeps its own etc/. Decided at install time, as the package's prefix is only known then.
install(CODE "
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(autostart /etc/xdg/autostart)
  else()
    set(autostart \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}/xdg/autostart\")
  endif()
  file(INSTALL \"${PROJECT_SOURCE_DIR}/data/linux/quillory-phoned.desktop\"
       DESTINATION \"\${autostart}\")
")

# --- the Debian package (cpack -G DEB) -------------------------------------------------------

set(CPACK_PACKAGE_NAME quillory)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane <quillory@corvane.net>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "voice recorder for touch screens, notes and phone calls")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillory Vozir records spoken notes from the microphone, and telephone calls on Linux\n"
    "phones, into MP3 files with ID3 tags. It lists them with a phone-keypad filter, plays,\n"
    "renames, moves, appends to and shares them. Its whole interface is drawn by its own skin\n"
    "engine. quillory-cli does the same from scripts and terminals.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_HOMEPAGE_URL ${QV_HOMEPAGE})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the binaries link come from dpkg-shlibdeps; beside them the font the
# skin falls back to, and the desktop's helpers for mail, documents and the running session.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, dbus-user-session")
include(CPack)
