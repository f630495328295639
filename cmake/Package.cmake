# Install rules and the Debian package (cpack), for tools/release.sh. On with
# TOLMAR_PACKAGE: the build then also composes the default soundtrack and
# makes the man pages and changelog the package carries.
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
install(TARGETS tolmar RUNTIME DESTINATION libexec/tolmar)
install(TARGETS audio LIBRARY DESTINATION lib/tolmar)
install(TARGETS picture-fit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tolmar-capture)
  install(TARGETS tolmar-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(staged ${PROJECT_BINARY_DIR}/package)
# The launcher, shared with the portable archive (tools/release.sh fills in
# the same names for its layout); the program finds our library by rpath.
set(TOLMAR_PROGRAM ../libexec/tolmar/tolmar)
set(TOLMAR_SOUNDTRACK_DIR ../share/tolmar)
set(TOLMAR_PRIVATE_LIBS "")
set(TOLMAR_MANUAL "man 6 tolmar")
configure_file(${release_dir}/tolmar.sh.in ${staged}/tolmar @ONLY)
install(PROGRAMS ${staged}/tolmar DESTINATION ${CMAKE_INSTALL_BINDIR})

# The default soundtrack, composed by our own tool (a few seconds).
add_custom_command(OUTPUT ${staged}/tolmar.mp3
  COMMAND soundtrack --quiet ${staged}/tolmar.mp3
  DEPENDS soundtrack
  COMMENT "Composing the default soundtrack")
install(FILES ${staged}/tolmar.mp3 DESTINATION ${CMAKE_INSTALL_DATADIR}/tolmar)

install(FILES ${release_dir}/tolmar.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${release_dir}/tolmar.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

# Man pages and the changelog, compressed as Debian wants them; -n keeps the
# gzip header free of names and times, so the package is reproducible.
# string(TIMESTAMP) honours SOURCE_DATE_EPOCH (tools/release.sh sets it from
# the commit).
string(TIMESTAMP TOLMAR_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(compressed)
foreach(page tolmar.6 tolmar-capture.1 picture-fit.1 changelog)
  if(page STREQUAL "changelog")
    configure_file(${release_dir}/changelog.in ${staged}/changelog @ONLY)
  else()
    configure_file(${release_dir}/man/${page} ${staged}/${page} @ONLY)
  endif()
  add_custom_command(OUTPUT ${staged}/${page}.gz
    COMMAND gzip -9n -c ${staged}/${page} > ${staged}/${page}.gz
    DEPENDS ${staged}/${page})
  list(APPEND compressed ${staged}/${page}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${staged}/tolmar.mp3 ${compressed})
install(FILES ${staged}/tolmar.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${staged}/tolmar-capture.1.gz ${staged}/picture-fit.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${release_dir}/copyright ${staged}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TOLMAR_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tolmar_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-running audiovisual piece of music and triangles")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Full screen, tolmar plays a piece of music and animates a picture of 18000
flat triangles: a window of about 300 of them slides through the picture,
tinted, pulsing and carrying a moving grey-noise texture, for 133 seconds.
.
Also here: tolmar-capture, which renders the piece to a video file frame by
frame with its music, and picture-fit, which fits the triangles to an image
of your own.")
# Depends: what the binaries link, found by dpkg-shlibdeps when cpack runs
# (cmake/PackageDepends.cmake), and what is loaded at run time, which no link
# records: SDL opens libGL.so.1 (libgl1) for its window's GL context, and
# libGL loads Mesa's drivers (libgl1-mesa-dri). A fresh minimal Debian 12
# without libgl1 cannot make the window (tests/release/fresh_install.sh).
set(CPACK_TOLMAR_BUILD_DIR ${PROJECT_BINARY_DIR})
set(CPACK_TOLMAR_PRIVATE_LIB_DIR ${PROJECT_BINARY_DIR}/src/audio/sdl)
set(CPACK_TOLMAR_ELF_FILES ${PROJECT_BINARY_DIR}/tolmar ${PROJECT_BINARY_DIR}/src/audio/sdl/libaudio.so
    ${PROJECT_BINARY_DIR}/tools/picture-fit/picture-fit)
if(TARGET tolmar-capture)
  list(APPEND CPACK_TOLMAR_ELF_FILES ${PROJECT_BINARY_DIR}/tools/capture/tolmar-capture)
endif()
set(CPACK_TOLMAR_EXTRA_DEPENDS "libgl1, libgl1-mesa-dri")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackageDepends.cmake)
include(CPack)
