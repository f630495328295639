# Run by cpack before it makes the Debian package: the package's Depends,
# from dpkg-shlibdeps over the binaries it carries (our private audio
# library is looked up in the build tree, where the program links it), plus
# what no link records. Done here rather than by CPack's own SHLIBDEPS, which
# would also add ldconfig calls to the maintainer scripts for our private
# library folder, where they do nothing.
set(work ${CPACK_TOLMAR_BUILD_DIR}/package/shlibdeps)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/debian)
file(TOUCH ${work}/debian/control)  # dpkg-shlibdeps wants one to read
execute_process(
  COMMAND dpkg-shlibdeps -O -l${CPACK_TOLMAR_PRIVATE_LIB_DIR} ${CPACK_TOLMAR_ELF_FILES}
  WORKING_DIRECTORY ${work}
  OUTPUT_VARIABLE substvars
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT substvars MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${status}): ${errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_TOLMAR_EXTRA_DEPENDS}, ${CMAKE_MATCH_1}")
