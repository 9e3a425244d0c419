# The Debian package: `cpack -G DEB` in a build folder (scripts/package does it all) makes
# brelvon_<version>_amd64.deb. Its runtime dependencies are computed from the binaries by
# dpkg-shlibdeps, so an optional library (the embedded browser) is a dependency exactly when
# the build linked it.

set(BRELVON_PACKAGE_MAINTAINER "The Brelvon developers <packages@brelvon.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(BRELVON_HOMEPAGE "https://github.com/brelvon/brelvon")

# Debian's own package documents: the copyright file and the (native) package changelog.
set(BRELVON_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/brelvon)
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^brelvon \\(${PROJECT_VERSION}\\)")
  message(FATAL_ERROR "packaging/debian/changelog does not start with version "
                      "${PROJECT_VERSION}: add an entry for it")
endif()
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/debian/changelog > ${changelog_gz}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/debian/changelog)
add_custom_target(brelvon_package_docs ALL DEPENDS ${changelog_gz})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${changelog_gz}
        DESTINATION ${BRELVON_PACKAGE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brelvon)
set(CPACK_PACKAGE_VENDOR "The Brelvon developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${BRELVON_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "look up the credit details of Taobao buyers")
set(CPACK_PACKAGE_DESCRIPTION
    "Brelvon is a tool for sellers on the Taobao marketplace. Given a buyer's member
id, it reads the public pages about that buyer and shows who the buyer is:
verification status, good rate and ratings received, the bad and neutral
ratings the buyer gave others, registration time, nick and area.
The package holds the window program with its menu entry, brelvon-cli (single
and batch lookups on the command line, batches into a spreadsheet), the
bundled demo site brelvon-site, skins and the skin tool brelvon-skin.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BRELVON_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${BRELVON_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt SQL loads its SQLite driver as a plugin, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# Not linked, so dpkg-shlibdeps cannot see them: Chinese glyphs for the window, xdg-open for
# the browser and the spreadsheet, a spreadsheet program for batch tables.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libreoffice-calc")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
