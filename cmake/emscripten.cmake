# Builds the web page's game with Debian's emscripten: the toolchain file it ships, and its
# compiler run with the folder of Debian's JavaScript modules on node's search path, where the
# compiler's own tools look for the modules they need.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
set(CMAKE_CXX_COMPILER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
set(CMAKE_CXX_LINKER_LAUNCHER env NODE_PATH=/usr/share/nodejs)
