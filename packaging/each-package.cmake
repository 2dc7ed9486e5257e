# Read by cpack before it makes each package, with CPACK_GENERATOR naming that one.

# Time stamps in the packages come from SOURCE_DATE_EPOCH. Unset, it is the time of the
# checked-out commit, or, outside a git checkout, the date of the changelog's newest entry; the
# time zone is pinned so that no time is ever turned into the build machine's local time.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_MARROWDEEP_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    execute_process(COMMAND date -u -d "${CPACK_MARROWDEEP_RELEASE_DATE}" +%s
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
set(ENV{TZ} UTC)
set(ENV{LC_ALL} C)

if(CPACK_GENERATOR STREQUAL "ZIP" AND CPACK_MARROWDEEP_WEB)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_MARROWDEEP_WEB_BUILD};marrowdeep;ALL;/")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-web")
  # The page's files lie at the top of the zip, ready to serve; nothing in it is for strip.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_STRIP_FILES OFF)
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_MARROWDEEP_WINDOWS_BUILD};marrowdeep;ALL;/")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win64")
  # The three files lie at the top of the zip; the program is stripped as it is linked.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_STRIP_FILES OFF)
endif()

if(CPACK_GENERATOR STREQUAL "DEB")
  # Each package's description starts with its own summary line.
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()
