# Compiler and linker flags of the release build. Neither changes a byte of what the game prints:
# the hardening only guards memory and the stack, and no path or time of the build machine goes
# into the programs, so every build of one commit gives the same files.

# Paths in the programs and their debug information are relative to the source tree, and the
# build folder, wherever it is (out/build/package, out/build/release or outside the tree), is
# "build": the compiler tries the last map first, so the build folder's wins inside the tree. The
# build folder is the compiler's working folder, and its path would otherwise go into the debug
# information, and so into the program's build id, which stripping keeps.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

if(WIN32)
  # The mingw linker writes the time of the link into the program's header unless told not to;
  # the program is stripped as it is linked.
  add_link_options(-Wl,--no-insert-timestamp -s)
else()
  # The hardening every Debian package is built with.
  add_compile_options(-D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
  add_link_options(-Wl,-z,relro,-z,now)
endif()
