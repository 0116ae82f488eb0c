# The Debian packages: `cmake --build build/default --target package` (or `cpack -G DEB` in the
# build folder) makes, from the install rules, tovak_<version>_amd64.deb (the program, its data and
# the camera) and tovak-media_<version>_amd64.deb (the module for recorded files, `--camera PATH`,
# with OpenCV's video and image decoders and the hundreds of libraries they bring), each with its
# dependencies computed from its binaries by dpkg-shlibdeps.

# Desktop integration under the one application id, and what Debian wants in every package.
configure_file(${PROJECT_SOURCE_DIR}/resources/org.tovak.Tovak.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/share/metainfo/org.tovak.Tovak.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/share/metainfo/org.tovak.Tovak.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
# Compressed without a name or a time stamp, so the package is the same from the same sources.
execute_process(COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovak)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovak-media COMPONENT media)
# The manual page tovak(1), compressed the same way.
configure_file(${PROJECT_SOURCE_DIR}/resources/tovak.1.in ${PROJECT_BINARY_DIR}/man/tovak.1 @ONLY)
execute_process(COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/man/tovak.1 OUTPUT_FILE ${PROJECT_BINARY_DIR}/man/tovak.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/man/tovak.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovak)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The project's own domain, as the homepage in the metainfo.
set(CPACK_PACKAGE_CONTACT "Tovak developers <developers@tovak.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tovak.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# One package per group: everything installed without a component (and the trigger document's
# "resources") is the program; "media" is the module for recorded files.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified resources media)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_CORE_PACKAGE_NAME tovak)
# Loaded at run time, so no linked library names them: the X11 platform plugin and the SVG icon
# loader.
set(CPACK_DEBIAN_CORE_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
# The desktop's opener for the trigger document is every desktop's own (xdg-utils, else GLib's gio):
# recommended, xdg-utils would bring 72 packages of Perl and X11 tools into a system without one.
set(CPACK_DEBIAN_CORE_PACKAGE_SUGGESTS "xdg-utils, tovak-media")
set(CPACK_DEBIAN_MEDIA_PACKAGE_NAME tovak-media)
set(CPACK_DEBIAN_MEDIA_PACKAGE_DEPENDS "tovak (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_MEDIA_PACKAGE_SECTION video)
set(CPACK_DEBIAN_MEDIA_DESCRIPTION "recorded videos and pictures as Tovak's camera
The module that lets Tovak watch a video file or a folder of pictures
instead of the camera (tovak --camera PATH), through OpenCV's video and
image decoders. The camera and the demo camera do not need it.")
set(CPACK_DEBIAN_CORE_DESCRIPTION "guard against onlookers, watching the camera
Tovak finds the faces in every camera frame. When a second face looks over
the user's shoulder, a decoy document comes to the front and a small panel
shows the onlooker's face; when the user has stepped away, a face at the
unattended machine is shown full screen and the session is locked a second
later. The interface is Russian.")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
cpack_add_component_group(core)
cpack_add_component_group(media)
cpack_add_component(Unspecified GROUP core)
cpack_add_component(resources GROUP core)
cpack_add_component(media GROUP media)
