# The video capture tool needs FFmpeg's libraries, which someone building only
# to watch the piece may not have. TOLMAR_CAPTURE: AUTO builds it when
# pkg-config finds them, ON requires them, OFF leaves it out. Sets
# TOLMAR_CAPTURE_ENABLED and, when on, the imported target PkgConfig::FFMPEG.
set(TOLMAR_CAPTURE AUTO CACHE STRING "Build tolmar-capture (AUTO, ON or OFF)")
set_property(CACHE TOLMAR_CAPTURE PROPERTY STRINGS AUTO ON OFF)

set(TOLMAR_CAPTURE_ENABLED OFF)
if(WIN32 OR EMSCRIPTEN OR TOLMAR_CAPTURE STREQUAL "OFF")
  if(TOLMAR_CAPTURE STREQUAL "ON")
    message(FATAL_ERROR "TOLMAR_CAPTURE=ON: the capture tool is built on Linux only")
  endif()
elseif(TOLMAR_CAPTURE STREQUAL "ON" OR TOLMAR_CAPTURE STREQUAL "AUTO")
  find_package(PkgConfig REQUIRED)
  set(_capture_modules libavformat libavcodec libswscale libswresample libavutil)
  if(TOLMAR_CAPTURE STREQUAL "ON")
    pkg_check_modules(FFMPEG REQUIRED GLOBAL IMPORTED_TARGET ${_capture_modules})
  else()
    pkg_check_modules(FFMPEG QUIET GLOBAL IMPORTED_TARGET ${_capture_modules})
  endif()
  if(FFMPEG_FOUND)
    set(TOLMAR_CAPTURE_ENABLED ON)
  else()
    message(STATUS "tolmar-capture not built: FFmpeg's development libraries are missing "
                   "(see tools/packages/capture.txt)")
  endif()
else()
  message(FATAL_ERROR "TOLMAR_CAPTURE must be AUTO, ON or OFF, not '${TOLMAR_CAPTURE}'")
endif()
