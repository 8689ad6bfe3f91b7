# What `cmake --install` puts under the prefix, and the Debian package built
# from it by CPack (scripts/package):
#   bin/vibrolane, bin/vibrolane-snapshot
#   share/applications/vibrolane.desktop
#   share/icons/hicolor/<size>/apps/vibrolane.png, drawn by the snapshot tool
#   share/metainfo/vibrolane.metainfo.xml
#   share/man/man1/vibrolane.1.gz, vibrolane-snapshot.1.gz
# The package alone adds the copyright and changelog Debian wants in
# share/doc/vibrolane; a plain install leaves them out.
# The sanitizer build is for the tests only: nothing of it is installed.
if(VL_SANITIZE)
  return()
endif()
include(GNUInstallDirs)

set(vl_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(vl_staged ${PROJECT_BINARY_DIR}/packaging)
# The licence is the owners' to choose; until they do, the package says the
# program is not licensed to anyone.
set(VL_PROJECT_LICENSE "LicenseRef-proprietary")
set(VL_RELEASE_DATE "2026-12-09")
set(VL_HOMEPAGE "https://vibrolane.example.org/")
set(VL_APPSTREAM_ID "org.example.vibrolane")
set(VL_MAINTAINER "vibrolane maintainers <maintainers@vibrolane.example.org>")

install(TARGETS vibrolane vibrolane-snapshot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${vl_packaging}/vibrolane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)

configure_file(${vl_packaging}/vibrolane.metainfo.xml.in ${vl_staged}/vibrolane.metainfo.xml @ONLY)
install(FILES ${vl_staged}/vibrolane.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT program)

# Manual pages go compressed, without a time stamp in the gzip header, so the
# same sources give the same package.
find_program(VL_GZIP gzip REQUIRED)
set(vl_pages)
foreach(page vibrolane vibrolane-snapshot)
  configure_file(${vl_packaging}/${page}.1.in ${vl_staged}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${vl_staged}/${page}.1.gz
    COMMAND ${VL_GZIP} -9 -n -f -k ${vl_staged}/${page}.1
    DEPENDS ${vl_staged}/${page}.1 VERBATIM)
  list(APPEND vl_pages ${vl_staged}/${page}.1.gz)
endforeach()
install(FILES ${vl_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)

# The icons are the program's own surface, drawn by the snapshot tool at each
# size (no text, turned so that its two crests and two troughs show even at
# 16 pixels).
set(vl_icon_sizes 16 22 24 32 48 64 128 256)
set(vl_icons)
foreach(size ${vl_icon_sizes})
  set(icon ${vl_staged}/icons/${size}x${size}/vibrolane.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -DSNAPSHOT=$<TARGET_FILE:vibrolane-snapshot> -DSIZE=${size} -DOUTPUT=${icon}
            -P ${vl_packaging}/render-icon.cmake
    DEPENDS vibrolane-snapshot ${vl_packaging}/render-icon.cmake VERBATIM)
  list(APPEND vl_icons ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT program)
endforeach()
add_custom_target(vl_install_data ALL DEPENDS ${vl_pages} ${vl_icons})

# Debian's own files: the copyright notice and a changelog, both required of
# every package.
configure_file(${vl_packaging}/copyright.in ${vl_staged}/debian/copyright @ONLY)
# The package is made by the program's own developers (a native package), so
# the changelog is the plain one.
configure_file(${vl_packaging}/changelog.in ${vl_staged}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${vl_staged}/debian/changelog.gz
  COMMAND ${VL_GZIP} -9 -n -f -k ${vl_staged}/debian/changelog
  DEPENDS ${vl_staged}/debian/changelog VERBATIM)
add_custom_target(vl_debian_docs ALL DEPENDS ${vl_staged}/debian/changelog.gz)
install(FILES ${vl_staged}/debian/copyright ${vl_staged}/debian/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vibrolane COMPONENT debian EXCLUDE_FROM_ALL)

# ---- The Debian package -----------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vibrolane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vibrolane maintainers")
set(CPACK_PACKAGE_CONTACT "${VL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "vibration modes of a drum membrane, shown in 3-D")
set(CPACK_PACKAGE_DESCRIPTION
  "vibrolane computes the lowest vibration modes of a disk-shaped membrane whose\n"
  "rim is held fixed and shows the fifth one as a lit, height-coloured surface\n"
  "that can be turned with the arrow keys or a game controller. It draws with\n"
  "OpenGL or with its own software rasterizer.\n"
  "\n"
  "A second program, vibrolane-snapshot, draws the same picture into a PNG file\n"
  "without any display.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VL_HOMEPAGE}")
# Dependencies come from the libraries the programs link, as dpkg-shlibdeps
# finds them. Fonts, the GL driver and the Qt platform plugins are loaded at
# run time, where shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, libgl1-mesa-dri")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
include(CPack)

# The package as a user gets it (tests/packaging/check-package).
if(VL_BUILD_TESTS)
  add_test(NAME packaging_check_package
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/check-package ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
endif()
