# libmpg123 for the Windows exe: built from Debian's source package of the
# version the Linux build links (tools/mpg123/build.sh, cached once per
# machine), imported as mpg123::mpg123. The DLL is copied into the build's
# top folder, beside tolmar.exe (and the test programs), where Windows and
# Wine look for it first.
execute_process(
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../tools/mpg123/build.sh windows
  OUTPUT_VARIABLE MPG123_BUILD_OUTPUT
  RESULT_VARIABLE MPG123_BUILD_RESULT)
if(NOT MPG123_BUILD_RESULT EQUAL 0)
  message(FATAL_ERROR "libmpg123 for Windows: tools/mpg123/build.sh windows failed")
endif()
string(STRIP "${MPG123_BUILD_OUTPUT}" MPG123_BUILD_OUTPUT)
string(REGEX REPLACE ".*\n" "" MPG123_WINDOWS_PREFIX "${MPG123_BUILD_OUTPUT}")
set(MPG123_WINDOWS_PREFIX ${MPG123_WINDOWS_PREFIX} CACHE INTERNAL "libmpg123 built for Windows")
set(MPG123_DLL_NAME libmpg123-0.dll)

if(NOT TARGET mpg123::mpg123)
  add_library(mpg123::mpg123 SHARED IMPORTED GLOBAL)
  set_target_properties(mpg123::mpg123 PROPERTIES
    IMPORTED_LOCATION ${MPG123_WINDOWS_PREFIX}/bin/${MPG123_DLL_NAME}
    IMPORTED_IMPLIB ${MPG123_WINDOWS_PREFIX}/lib/libmpg123.dll.a
    INTERFACE_INCLUDE_DIRECTORIES ${MPG123_WINDOWS_PREFIX}/include
    # Offsets of 64 bits, as on Linux, in our calls (lseek, fstat) and
    # libmpg123's (its _64 functions): Windows' off_t has 32, and a damaged
    # file's claim of four billion frames would read back as a small number.
    INTERFACE_COMPILE_DEFINITIONS _FILE_OFFSET_BITS=64)
endif()
configure_file(${MPG123_WINDOWS_PREFIX}/bin/${MPG123_DLL_NAME} ${CMAKE_BINARY_DIR}/${MPG123_DLL_NAME} COPYONLY)
