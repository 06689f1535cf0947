# Install-time step: writes varnex.desktop with the absolute paths of the
# installed program, so the entry works from wherever it was installed.
# portable: the entry sits in the folder, starts the program there (which makes
#   the folder the default place of "Varnex Output") and shows its icon;
# prefix: the entry goes to share/applications, the themed icon "varnex" is
#   used, and bin/varnex is made a link to the program in its own folder.
set(dir "${CMAKE_INSTALL_PREFIX}")
file(READ "${VARNEX_DESKTOP_ENTRY}" entry)
if(VARNEX_INSTALL_LAYOUT STREQUAL portable)
  string(REPLACE "Exec=varnex" "Exec=\"${dir}/varnex\"\nPath=${dir}" entry "${entry}")
  string(REPLACE "Icon=varnex" "Icon=${dir}/varnex.png" entry "${entry}")
else()
  file(RELATIVE_PATH target "${dir}/${VARNEX_BIN_DIR}" "${dir}/${VARNEX_PROGRAM_DIR}/varnex")
  set(link "$ENV{DESTDIR}${dir}/${VARNEX_BIN_DIR}/varnex")
  message(STATUS "Installing: ${link} -> ${target}")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${dir}/${VARNEX_BIN_DIR}")
  file(REMOVE "${link}")
  file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
  string(REPLACE "Exec=varnex" "Exec=\"${dir}/${VARNEX_BIN_DIR}/varnex\"" entry "${entry}")
endif()
set(path "$ENV{DESTDIR}${dir}/${VARNEX_ENTRY_DIR}/varnex.desktop")
message(STATUS "Installing: ${path}")
file(WRITE "${path}" "${entry}")
