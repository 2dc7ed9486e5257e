# The sources a program is built from, as one SHA-256: every file of the game's folders, the
# build's own CMake files and the presets, each by its path in the tree and its own sum. A
# build writes it beside its program, so that a build that runs another build's program can
# tell whether that program comes from the sources it has itself.
#   cmake -DSOURCE_DIR=<tree> -DOUTPUT=<file> -P source-stamp.cmake

# The files that make the programs. Called from the build too, for its dependencies: there a
# file added or taken away configures the build again.
function(marrowdeep_program_sources source_dir out)
  set(configure_depends CONFIGURE_DEPENDS)
  if(CMAKE_SCRIPT_MODE_FILE)
    set(configure_depends "")
  endif()
  file(GLOB_RECURSE files ${configure_depends} RELATIVE ${source_dir}
    ${source_dir}/console/* ${source_dir}/maze/* ${source_dir}/character/* ${source_dir}/combat/*
    ${source_dir}/tier/* ${source_dir}/game/* ${source_dir}/cmake/*)
  list(APPEND files CMakeLists.txt CMakePresets.json)
  list(SORT files)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  marrowdeep_program_sources(${SOURCE_DIR} files)
  set(listing "")
  foreach(file IN LISTS files)
    file(SHA256 ${SOURCE_DIR}/${file} sum)
    string(APPEND listing "${sum}  ${file}\n")
  endforeach()
  string(SHA256 stamp "${listing}")
  file(WRITE ${OUTPUT} "${stamp}\n")
endif()
