# Writes the page's service worker from its template: the list of the page's files, and the name
# of the build's cache, made from the files' contents and the template's. A build of the same
# sources gives the same worker, byte for byte; a change to any file gives a new cache name.
#   cmake -DTEMPLATE=service-worker.js.in -DPAGE=<page folder> -DFILES=<name,name,...>
#         -DOUTPUT=<worker> -P service-worker.cmake
string(REPLACE "," ";" names "${FILES}")
list(SORT names)
file(SHA256 ${TEMPLATE} listing)
set(PAGE_FILES)
foreach(name IN LISTS names)
  file(SHA256 ${PAGE}/${name} sum)
  string(APPEND listing "\n${sum} ${name}")
  string(APPEND PAGE_FILES "\n    '${name}',")
endforeach()
string(SHA256 build "${listing}")
string(SUBSTRING ${build} 0 16 PAGE_BUILD)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
