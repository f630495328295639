# Turns a binary file into a C++ source that defines it as a const byte array.
# Usage: cmake -DINPUT=file.bin -DOUTPUT=file.cpp -DSYMBOL=name -DSIZE=bytes -P embed.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR bytes "${digits} / 2")
if(NOT bytes EQUAL SIZE)
  message(FATAL_ERROR "${INPUT} holds ${bytes} bytes; ${SIZE} expected")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" body "${body}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT} by cmake/embed.cmake; do not edit.\n"
  "#include \"picture/picture.h\"\n"
  "extern const unsigned char ${SYMBOL}[${SIZE}] = {\n${body}\n};\n")
