# Checks that every module a bundle was built from is in the list of the page's modules in
# web/CMakeLists.txt, the bundles' sources: a module missing there would not make the bundle
# again when it changes. Reads the list of inputs esbuild writes beside the bundle, and takes the
# bundle away when one is missing, so that the next build makes it again.
#   cmake -DINPUTS=<esbuild metafile> -DENTRY=<entry module> -DMODULES=<name,name,...>
#         -DBUNDLE=<bundle> -P bundle-sources.cmake
cmake_policy(VERSION 3.25)
string(REPLACE "," ";" modules "${MODULES}")
file(READ ${INPUTS} meta)
string(JSON count LENGTH "${meta}" inputs)
set(missing)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON name MEMBER "${meta}" inputs ${index})
  if(NOT name STREQUAL ENTRY AND NOT name IN_LIST modules)
    list(APPEND missing ${name})
  endif()
endforeach()
if(missing)
  file(REMOVE ${BUNDLE})
  list(JOIN missing ", " missing)
  message(FATAL_ERROR "${ENTRY} imports ${missing}, not in page_modules in web/CMakeLists.txt: add it there.")
endif()
