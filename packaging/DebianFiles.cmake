# Run by cpack on the staged tree, before the package is made of it: what Debian asks of a
# package beyond the install rules. Compressed with -n (no name, no time stamp) so that the
# same sources give the same package.
set(usr "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${usr}/lib/auralon")
  message(FATAL_ERROR "no staged program folder under ${usr}")
endif()
set(doc "${usr}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_AURALON_COPYRIGHT}" "${doc}/copyright")
execute_process(COMMAND gzip -9nc "${CPACK_AURALON_CHANGELOG}" OUTPUT_FILE "${doc}/changelog.gz"
  COMMAND_ERROR_IS_FATAL ANY)
file(GLOB pages "${usr}/share/man/man*/*.[1-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# Whatever the umask of the checkout, as Debian asks of plain files.
file(CHMOD "${doc}/copyright" "${doc}/changelog.gz" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
