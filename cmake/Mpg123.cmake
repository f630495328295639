# libmpg123 for the targets Debian has no package of it for, the Windows exe
# and the page: built from the Debian source package pinned in
# cmake/mpg123-source.sha256, the version Debian 12's Linux build links
# (cmake/mpg123-build.sh, cached once per machine and version), and
# imported as mpg123::mpg123. On Windows a DLL, copied into the build's top folder beside
# tolmar.exe (and the test programs), where Windows and Wine look first; for
# the page a static library.
if(WIN32)
  set(mpg123_target windows)
else()
  set(mpg123_target web)
endif()
execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/mpg123-build.sh ${mpg123_target}
                OUTPUT_VARIABLE mpg123_out RESULT_VARIABLE mpg123_status)
if(NOT mpg123_status EQUAL 0)
  message(FATAL_ERROR "libmpg123 for ${mpg123_target}: cmake/mpg123-build.sh ${mpg123_target} failed (${mpg123_status})")
endif()
string(REGEX REPLACE ".*\n([^\n]+)\n*$" "\\1" TOLMAR_MPG123_PREFIX "\n${mpg123_out}")
set(TOLMAR_MPG123_PREFIX ${TOLMAR_MPG123_PREFIX} CACHE INTERNAL "libmpg123 built from the pinned Debian source for this target")

if(WIN32)
  set(MPG123_DLL_NAME libmpg123-0.dll)
  add_library(mpg123::mpg123 SHARED IMPORTED GLOBAL)
  set_target_properties(mpg123::mpg123 PROPERTIES
    IMPORTED_LOCATION ${TOLMAR_MPG123_PREFIX}/bin/${MPG123_DLL_NAME}
    IMPORTED_IMPLIB ${TOLMAR_MPG123_PREFIX}/lib/libmpg123.dll.a
    # Offsets of 64 bits, as on Linux, in our calls (lseek, fstat) and
    # libmpg123's (its _64 functions): Windows' off_t has 32, and a damaged
    # file's claim of four billion frames would read back as a small number.
    INTERFACE_COMPILE_DEFINITIONS _FILE_OFFSET_BITS=64)
  configure_file(${TOLMAR_MPG123_PREFIX}/bin/${MPG123_DLL_NAME} ${CMAKE_BINARY_DIR}/${MPG123_DLL_NAME} COPYONLY)
else()
  add_library(mpg123::mpg123 STATIC IMPORTED GLOBAL)
  set_target_properties(mpg123::mpg123 PROPERTIES IMPORTED_LOCATION ${TOLMAR_MPG123_PREFIX}/lib/libmpg123.a)
endif()
set_target_properties(mpg123::mpg123 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${TOLMAR_MPG123_PREFIX}/include)
