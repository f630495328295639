# The web build with Debian's Emscripten. Debian's toolchain file does the
# work; emcc runs its JavaScript parts on the machine's node, which finds
# Debian's node modules (acorn) only through NODE_PATH, so every compile and
# link goes through a launcher that sets it. That way a bare `ninja -C
# build-web` works as well as the preset.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

set(TOLMAR_EMCC_ENV ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
set(CMAKE_C_COMPILER_LAUNCHER ${TOLMAR_EMCC_ENV})
set(CMAKE_CXX_COMPILER_LAUNCHER ${TOLMAR_EMCC_ENV})
set(CMAKE_C_LINKER_LAUNCHER ${TOLMAR_EMCC_ENV})
set(CMAKE_CXX_LINKER_LAUNCHER ${TOLMAR_EMCC_ENV})
