# CPack step before the archive is made: the archive can be extracted anywhere,
# so its desktop entry names the program and icon without a folder, as the
# source entry does, instead of the staging folder's paths.
configure_file("${CPACK_VARNEX_DESKTOP_ENTRY}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/varnex.desktop" COPYONLY)
