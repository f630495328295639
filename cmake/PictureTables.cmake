# picture_table_sources(VAR): C++ sources that define triangleTable and
# shadeTable from the committed raw files, regenerated whenever a file changes.
# Used by the picture library and by anything that compiles the renderer anew.
function(picture_table_sources var)
  set(sources)
  foreach(table IN ITEMS "triangles;triangleTable;108000" "shades;shadeTable;54000")
    list(GET table 0 file)
    list(GET table 1 symbol)
    list(GET table 2 size)
    set(in ${PROJECT_SOURCE_DIR}/src/picture/${file}.bin)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${file}_table.cpp)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${in} -DOUTPUT=${out} -DSYMBOL=${symbol} -DSIZE=${size}
              -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
      DEPENDS ${in} ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
      COMMENT "Embedding ${file}.bin"
      VERBATIM)
    list(APPEND sources ${out})
  endforeach()
  set(${var} ${sources} PARENT_SCOPE)
endfunction()
