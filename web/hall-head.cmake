# Writes one of the hall's pages with the head they share: the page's line
# `<!-- hall-head.html: ... -->` replaced by hall-head.html.
#   cmake -DPAGE=<page> -DHEAD=<hall-head.html> -DOUTPUT=<page written> -P hall-head.cmake
cmake_policy(VERSION 3.25)
file(READ ${PAGE} page)
file(READ ${HEAD} head)
string(REGEX MATCHALL "<!-- hall-head\\.html:[^\n]*-->\n" markers "${page}")
list(LENGTH markers count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "${PAGE} has ${count} lines <!-- hall-head.html: ... --> where the shared head goes, not one.")
endif()
string(REPLACE "${markers}" "${head}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
