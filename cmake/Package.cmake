# Install rules and the Debian packages (cpack), for tools/release.sh. On
# with TOLMAR_PACKAGE: the build then also composes the default soundtrack
# and makes the man pages and changelogs the packages carry. Two packages,
# as two install components: tolmar (component piece), the piece and
# picture-fit, whose libraries have the same package names in Debian 12 and
# 13, so one package serves both; and tolmar-capture (component capture),
# which links FFmpeg's libraries, whose package names change with each
# FFmpeg: built for the Debian release it is made on, its version saying
# which (1.0.0+deb12). cpack makes the one CPACK_COMPONENTS_ALL names
# (cpack -D CPACK_COMPONENTS_ALL=piece, or capture).
#
# Layout once installed (prefix /usr):
#   bin/tolmar                    launcher: picks the folder to run in
#   libexec/tolmar/tolmar         the program, started by the launcher
#   lib/tolmar/libaudio.so        our audio library, private to the program
#   bin/tolmar-capture, bin/picture-fit
#   share/tolmar/tolmar.mp3       the default soundtrack
#   share/applications, share/icons, share/man, share/doc/tolmar
include(GNUInstallDirs)
set(release_dir ${PROJECT_SOURCE_DIR}/tools/release)
set(TOLMAR_MAINTAINER "The tolmar developers <tolmar@example.org>" CACHE STRING
    "Maintainer named in the package and its changelog")

# The program finds its audio library through an rpath relative to itself,
# wherever the tree is unpacked; nothing of ours goes on the system's
# library path.
set_target_properties(tolmar PROPERTIES INSTALL_RPATH "$ORIGIN/../../lib/tolmar")
install(TARGETS tolmar RUNTIME DESTINATION libexec/tolmar COMPONENT piece)
install(TARGETS audio LIBRARY DESTINATION lib/tolmar COMPONENT piece)
install(TARGETS picture-fit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT piece)
if(TARGET tolmar-capture)
  install(TARGETS tolmar-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT capture)
endif()

set(staged ${PROJECT_BINARY_DIR}/package)
# The launcher, shared with the portable archive (tools/release.sh fills in
# the same names for its layout); the program finds our library by rpath.
set(TOLMAR_PROGRAM ../libexec/tolmar/tolmar)
set(TOLMAR_SOUNDTRACK_DIR ../share/tolmar)
set(TOLMAR_PRIVATE_LIBS "")
set(TOLMAR_MANUAL "man 6 tolmar")
configure_file(${release_dir}/tolmar.sh.in ${staged}/tolmar @ONLY)
install(PROGRAMS ${staged}/tolmar DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT piece)

# The default soundtrack, composed by our own tool (a few seconds).
add_custom_command(OUTPUT ${staged}/tolmar.mp3
  COMMAND soundtrack --quiet ${staged}/tolmar.mp3
  DEPENDS soundtrack
  COMMENT "Composing the default soundtrack")
install(FILES ${staged}/tolmar.mp3 DESTINATION ${CMAKE_INSTALL_DATADIR}/tolmar COMPONENT piece)

install(FILES ${release_dir}/tolmar.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT piece)
install(FILES ${release_dir}/tolmar.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        COMPONENT piece)

# The capture tool's package is built for the Debian release this build is
# made on (12, 13), which its version names.
cmake_host_system_information(RESULT TOLMAR_DEBIAN_RELEASE QUERY DISTRIB_VERSION_ID)
set(TOLMAR_CAPTURE_VERSION ${PROJECT_VERSION}+deb${TOLMAR_DEBIAN_RELEASE})

# Man pages and the changelogs, compressed as Debian wants them; -n keeps the
# gzip header free of names and times, so the packages are reproducible.
# string(TIMESTAMP) honours SOURCE_DATE_EPOCH (tools/release.sh sets it from
# the commit). Each package has its changelog, of its own version.
string(TIMESTAMP TOLMAR_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TOLMAR_PACKAGE_VERSION ${PROJECT_VERSION})
configure_file(${release_dir}/changelog.in ${staged}/changelog @ONLY)
set(TOLMAR_PACKAGE_VERSION ${TOLMAR_CAPTURE_VERSION})
configure_file(${release_dir}/changelog.in ${staged}/capture/changelog @ONLY)
foreach(page tolmar.6 tolmar-capture.1 picture-fit.1 changelog capture/changelog)
  if(NOT page MATCHES "changelog")
    configure_file(${release_dir}/man/${page} ${staged}/${page} @ONLY)
  endif()
  add_custom_command(OUTPUT ${staged}/${page}.gz
    COMMAND gzip -9n -c ${staged}/${page} > ${staged}/${page}.gz
    DEPENDS ${staged}/${page})
endforeach()
add_custom_target(package_files ALL
  DEPENDS ${staged}/tolmar.mp3 ${staged}/tolmar.6.gz ${staged}/picture-fit.1.gz ${staged}/changelog.gz)
# The capture tool's package alone needs only this and the tool.
add_custom_target(capture_package_files ALL DEPENDS ${staged}/tolmar-capture.1.gz ${staged}/capture/changelog.gz)
install(FILES ${staged}/tolmar.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6 COMPONENT piece)
install(FILES ${staged}/picture-fit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT piece)
install(FILES ${release_dir}/copyright ${staged}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tolmar
        COMPONENT piece)
install(FILES ${staged}/tolmar-capture.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT capture)
install(FILES ${release_dir}/copyright ${staged}/capture/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tolmar-capture COMPONENT capture)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TOLMAR_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL piece)
if(TARGET tolmar-capture)
  list(APPEND CPACK_COMPONENTS_ALL capture)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # NAME_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PIECE_PACKAGE_NAME tolmar)
set(CPACK_COMPONENT_PIECE_DESCRIPTION "self-running audiovisual piece of music and triangles
Full screen, tolmar plays a piece of music and animates a picture of 18000
flat triangles: a window of about 300 of them slides through the picture,
tinted, pulsing and carrying a moving grey-noise texture, for 133 seconds.
.
Also here: picture-fit, which fits the triangles to an image of your own.
The package tolmar-capture renders the piece to a video file.")
set(CPACK_DEBIAN_CAPTURE_PACKAGE_NAME tolmar-capture)
set(CPACK_DEBIAN_CAPTURE_PACKAGE_SECTION video)
set(CPACK_COMPONENT_CAPTURE_DESCRIPTION "render tolmar to a video file with its music
tolmar-capture renders tolmar, the self-running piece of music and
triangles, to a video file frame by frame with its music: WebM, Matroska
(also lossless) or MP4, at any size and frame rate, through FFmpeg's
libraries. Built for one Debian release, as its version says.")
# Depends: what the binaries link, found by dpkg-shlibdeps when cpack runs
# (cmake/PackageDepends.cmake), and what is loaded at run time, which no link
# records: SDL opens libGL.so.1 (libgl1) for its window's GL context, and
# libGL loads Mesa's drivers (libgl1-mesa-dri). A fresh minimal Debian 12
# without libgl1 cannot make the window (tests/release/fresh_install.sh).
# The capture tool plays the soundtrack the piece's package installs, of
# the same version.
set(CPACK_TOLMAR_BUILD_DIR ${PROJECT_BINARY_DIR})
set(CPACK_TOLMAR_PRIVATE_LIB_DIR ${PROJECT_BINARY_DIR}/src/audio/sdl)
set(CPACK_TOLMAR_PIECE_ELF_FILES ${PROJECT_BINARY_DIR}/tolmar ${PROJECT_BINARY_DIR}/src/audio/sdl/libaudio.so
    ${PROJECT_BINARY_DIR}/tools/picture-fit/picture-fit)
set(CPACK_TOLMAR_PIECE_EXTRA_DEPENDS "libgl1, libgl1-mesa-dri")
set(CPACK_TOLMAR_CAPTURE_ELF_FILES ${PROJECT_BINARY_DIR}/tools/capture/tolmar-capture)
set(CPACK_TOLMAR_CAPTURE_EXTRA_DEPENDS "tolmar (= ${PROJECT_VERSION})")
set(CPACK_TOLMAR_CAPTURE_VERSION ${TOLMAR_CAPTURE_VERSION})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackageDepends.cmake)
include(CPack)
