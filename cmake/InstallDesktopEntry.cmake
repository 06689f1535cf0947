# Install-time step: writes varnex.desktop into the install folder with the
# absolute paths of that folder's program and icon, so the entry works from
# wherever the portable folder was installed.
set(dir "${CMAKE_INSTALL_PREFIX}")
file(READ "${VARNEX_DESKTOP_ENTRY}" entry)
string(REPLACE "Exec=varnex" "Exec=\"${dir}/varnex\"\nPath=${dir}" entry "${entry}")
string(REPLACE "Icon=varnex" "Icon=${dir}/varnex.png" entry "${entry}")
set(target "$ENV{DESTDIR}${dir}/varnex.desktop")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${entry}")
