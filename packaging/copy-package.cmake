# Run by cpack once a package is made: a copy goes to out/package, readable by all.
file(COPY ${CPACK_PACKAGE_FILES} DESTINATION "${CPACK_MARROWDEEP_OUTPUT_DIR}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
