# What a desktop installation carries beside the programs (manual pages, bash
# completion, AppStream metainfo, the package's copyright file), and the
# Debian package: `cpack -G DEB` in the build folder makes
# veld_<version>_amd64.deb, its dependencies computed from the programs'
# libraries by dpkg-shlibdeps.

# The project's web site (the package's Homepage, the AppStream page and its
# screenshot), the AppStream component id and the package's maintainer.
set(VELD_HOMEPAGE "https://veld.example.org" CACHE STRING "Web site of the project")
set(VELD_MAINTAINER "The Veld developers <veld@example.org>" CACHE STRING "Maintainer of the Debian package")
set(VELD_APPSTREAM_ID "org.example.veld")

set(VELD_PACKAGE_SOURCE ${PROJECT_SOURCE_DIR}/resources/package)
set(VELD_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(VERSION "V${PROJECT_VERSION}")  # as veld --version shows it

# Manual pages with the version filled in, compressed as Debian wants them.
find_program(VELD_GZIP gzip)
set(VELD_MAN_PAGES veld-cli)
if(VELD_BUILD_GUI)
  list(APPEND VELD_MAN_PAGES veld)
endif()
set(VELD_MAN_OUTPUTS)
foreach(page ${VELD_MAN_PAGES})
  configure_file(${PROJECT_SOURCE_DIR}/docs/${page}.1 ${VELD_MAN_DIR}/${page}.1 @ONLY)
  if(VELD_GZIP)
    add_custom_command(OUTPUT ${VELD_MAN_DIR}/${page}.1.gz
      COMMAND ${VELD_GZIP} -9nf -k ${page}.1
      WORKING_DIRECTORY ${VELD_MAN_DIR}
      DEPENDS ${VELD_MAN_DIR}/${page}.1
      VERBATIM)
    list(APPEND VELD_MAN_OUTPUTS ${VELD_MAN_DIR}/${page}.1.gz)
  else()
    list(APPEND VELD_MAN_OUTPUTS ${VELD_MAN_DIR}/${page}.1)
  endif()
endforeach()
add_custom_target(veld_man_pages ALL DEPENDS ${VELD_MAN_OUTPUTS})
install(FILES ${VELD_MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${VELD_PACKAGE_SOURCE}/veld-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME veld-cli)
# The package's documentation folder: its copyright file and (compressed, as
# for the manual pages) its changelog.
configure_file(${VELD_PACKAGE_SOURCE}/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
set(VELD_CHANGELOG ${CMAKE_BINARY_DIR}/package/changelog)
if(VELD_GZIP)
  add_custom_command(OUTPUT ${VELD_CHANGELOG}.gz
    COMMAND ${VELD_GZIP} -9nf -k changelog
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
    DEPENDS ${VELD_CHANGELOG}
    VERBATIM)
  set(VELD_CHANGELOG ${VELD_CHANGELOG}.gz)
endif()
add_custom_target(veld_changelog ALL DEPENDS ${VELD_CHANGELOG})
install(FILES ${VELD_PACKAGE_SOURCE}/copyright ${VELD_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/veld)

if(VELD_BUILD_GUI)
  set(VELD_METAINFO ${CMAKE_BINARY_DIR}/${VELD_APPSTREAM_ID}.metainfo.xml)
  configure_file(${VELD_PACKAGE_SOURCE}/veld.metainfo.xml.in ${VELD_METAINFO} @ONLY)
  install(FILES ${VELD_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veld)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Veld developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and restore deleted photos on camera memory cards")
set(CPACK_PACKAGE_DESCRIPTION [[
Veld finds and restores photographs and video clips that were deleted from
the memory card of a camera or a phone. It reads the card sector by sector,
never through the file system and never writing to it, analyses its FAT12,
FAT16, FAT32 or exFAT volume, finds deleted files and folders with their long
names, and searches the free space for JPEG pictures and MP4 or QuickTime
clips, reading their EXIF data.

The window shows what was found as thumbnails, a list and a map of the card,
and veld-cli runs the same search on the command line. Both also save a card
to a disk image, write an image back and erase a card. A card reader the user
may not open is opened through UDisks2 after the desktop has asked for the
password. The user interface is Japanese.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELD_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VELD_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries do not tell: Qt's display plugins, and the shared MIME
# database that names file types.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, shared-mime-info")
# UDisks2 opens card readers without root; the CJK font shows the Japanese
# texts; Qt's own dialog buttons in Japanese; file-type icons.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udisks2, fonts-noto-cjk, qt6-translations-l10n, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
