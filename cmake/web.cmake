# The web build's page around the program (build-web/): the page script is
# linked into tolmar.js, tolmar.html holds it all in one file, and the
# default soundtrack tolmar.mp3 is composed by the native tools/soundtrack,
# built on its own (cmake/soundtrack) in a native folder, when the folder has
# none. A tolmar.mp3 already there is left alone
# and played.
get_property(page_scripts GLOBAL PROPERTY TOLMAR_PAGE_SCRIPTS)
set_property(TARGET tolmar APPEND PROPERTY LINK_DEPENDS ${page_scripts})

# notices/: what the program carries of libmpg123 asks for its notice beside
# it (the copyright file of the Debian source it was built from), its
# licence and where its source is (the release carries it beside the zip);
# tolmar.html holds them, the web zip carries them in LICENSES/.
get_filename_component(mpg123_version ${TOLMAR_MPG123_PREFIX} DIRECTORY)
get_filename_component(mpg123_version ${mpg123_version} NAME)
set(notices ${PROJECT_BINARY_DIR}/notices)
configure_file(${TOLMAR_MPG123_PREFIX}/COPYING.debian ${notices}/libmpg123.txt COPYONLY)
configure_file(/usr/share/common-licenses/LGPL-2.1 ${notices}/LGPL-2.1.txt COPYONLY)
set(MPG123_CARRIER "tolmar.wasm (and so tolmar.html)")
set(MPG123_HOW "linked statically")
set(MPG123_PRESET web)
set(MPG123_VERSION ${mpg123_version})
set(VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/tools/release/libmpg123-sources.txt.in ${notices}/SOURCES.txt @ONLY)
set(notice_files ${notices}/libmpg123.txt ${notices}/LGPL-2.1.txt ${notices}/SOURCES.txt)

# tolmar.html: the page with the program and the music inside it, which plays
# opened from the disk (tools/web-single.js, which tools/web-single.sh runs
# for other music).
find_program(TOLMAR_NODE NAMES node nodejs REQUIRED)
set(single ${PROJECT_BINARY_DIR}/tolmar.html)
add_custom_command(
  OUTPUT ${single}
  COMMAND ${TOLMAR_NODE} ${PROJECT_SOURCE_DIR}/tools/web-single.js ${PROJECT_BINARY_DIR}
          ${PROJECT_BINARY_DIR}/tolmar.mp3 ${single}
  DEPENDS tolmar ${PROJECT_BINARY_DIR}/index.html ${PROJECT_BINARY_DIR}/tolmar.mp3
          ${PROJECT_SOURCE_DIR}/tools/web-single.js ${notice_files}
  COMMENT "Writing tolmar.html: the page, the program and tolmar.mp3 in one file"
  VERBATIM)
add_custom_target(web_single ALL DEPENDS ${single})

# Decided when configuring: a build rule for an existing file would have
# ninja compose it anew on the first build.
if(EXISTS ${PROJECT_BINARY_DIR}/tolmar.mp3)
  return()
endif()
set(native ${PROJECT_BINARY_DIR}/native)
set(music ${PROJECT_BINARY_DIR}/tolmar.mp3)
add_custom_command(
  OUTPUT ${music}
  COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR}/cmake/soundtrack -B ${native} -G Ninja
          -DCMAKE_BUILD_TYPE=Release -DTOLMAR_WERROR=${TOLMAR_WERROR}
  COMMAND ${CMAKE_COMMAND} --build ${native} --target soundtrack -j 2
  # Written beside and renamed, so a stopped build leaves no half file.
  COMMAND ${native}/soundtrack/soundtrack --quiet ${PROJECT_BINARY_DIR}/tolmar.part.mp3
  COMMAND ${CMAKE_COMMAND} -E rename ${PROJECT_BINARY_DIR}/tolmar.part.mp3 ${music}
  COMMENT "Composing the default soundtrack tolmar.mp3 with the native tools/soundtrack"
  VERBATIM)
add_custom_target(web_soundtrack ALL DEPENDS ${music})
