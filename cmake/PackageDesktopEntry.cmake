# CPack step before the portable archive is made: the archive can be extracted
# anywhere, so its desktop entry names the program and icon without a folder,
# as the source entry does, instead of the staging folder's paths;
# install-desktop-entry.sh in the archive writes one with the folder's paths.
# Only the entry that the install put into the package's folder is replaced:
# nothing is added at the root of the package.
set(entry "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/varnex.desktop")
if(CPACK_PACKAGING_INSTALL_PREFIX AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/")
  set(entry "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/varnex.desktop")
endif()
if(NOT EXISTS "${entry}")
  message(FATAL_ERROR "The package holds no ${entry} to rewrite")
endif()
configure_file("${CPACK_VARNEX_DESKTOP_ENTRY}" "${entry}" COPYONLY)
