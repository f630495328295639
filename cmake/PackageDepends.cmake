# Run by cpack before it makes the Debian packages: each package's Depends,
# from dpkg-shlibdeps over the binaries it carries (our private audio
# library is looked up in the build tree, where the program links it), plus
# what no link records. Done here rather than by CPack's own SHLIBDEPS, which
# would also add ldconfig calls to the maintainer scripts for our private
# library folder, where they do nothing. Only the components cpack makes
# this time (CPACK_COMPONENTS_ALL) are looked at: a build for the capture
# tool alone has no program to read. The capture tool's package alone takes
# its own version, which names the Debian release it is built for.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} part)
  set(work ${CPACK_TOLMAR_BUILD_DIR}/package/shlibdeps-${component})
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work}/debian)
  file(TOUCH ${work}/debian/control)  # dpkg-shlibdeps wants one to read
  execute_process(
    COMMAND dpkg-shlibdeps -O -l${CPACK_TOLMAR_PRIVATE_LIB_DIR} ${CPACK_TOLMAR_${part}_ELF_FILES}
    WORKING_DIRECTORY ${work}
    OUTPUT_VARIABLE substvars
    ERROR_VARIABLE errors
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT substvars MATCHES "shlibs:Depends=([^\n]*)")
    message(FATAL_ERROR "dpkg-shlibdeps failed for ${component} (${status}): ${errors}")
  endif()
  set(CPACK_DEBIAN_${part}_PACKAGE_DEPENDS "${CPACK_TOLMAR_${part}_EXTRA_DEPENDS}, ${CMAKE_MATCH_1}")
endforeach()
if(CPACK_COMPONENTS_ALL STREQUAL "capture")
  set(CPACK_DEBIAN_PACKAGE_VERSION ${CPACK_TOLMAR_CAPTURE_VERSION})
endif()
