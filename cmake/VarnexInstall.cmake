# Where `cmake --install` puts the programs and their files, and the archive
# `cpack` makes of them.
#
# portable (the default): one folder holding varnex, varnex-convert, Help/, the
#   icon, a desktop entry that points at that folder, the AppStream metainfo,
#   man/man1/varnex-convert.1 and completion/varnex-convert.bash. The program
#   keeps Log.txt and Settings.ini beside itself, so the folder must stay
#   writable by its user.
# prefix: the usual tree under the prefix: bin/varnex-convert, bin/varnex (a
#   link to libexec/varnex/varnex, which keeps Help/, Log.txt and Settings.ini
#   beside it, so the prefix should be one the user can write, such as ~/.local),
#   and the desktop entry, metainfo, icon, manual page and bash completion in
#   their places under share/.
set(VARNEX_INSTALL_LAYOUT portable CACHE STRING "Install layout: portable or prefix")
set_property(CACHE VARNEX_INSTALL_LAYOUT PROPERTY STRINGS portable prefix)
if(NOT VARNEX_INSTALL_LAYOUT MATCHES "^(portable|prefix)$")
  message(FATAL_ERROR "VARNEX_INSTALL_LAYOUT must be portable or prefix, not '${VARNEX_INSTALL_LAYOUT}'")
endif()
# The software-centre identity of the program; the address is where the
# published screenshot is found.
set(VARNEX_APP_ID org.example.varnex)
set(VARNEX_HOMEPAGE "https://example.org/varnex" CACHE STRING "The project's public web address")
set(VARNEX_LICENSE "LicenseRef-proprietary" CACHE STRING "SPDX expression of the project's licence")
include(GNUInstallDirs)

if(VARNEX_INSTALL_LAYOUT STREQUAL portable)
  set(program_dir .)
  set(tool_dir .)
  set(share_dir .)
  set(metainfo_dir .)
  set(man_dir man/man1)
  set(completion_dir completion)
  set(completion_name varnex-convert.bash)
  set(icon_dir .)
else()
  set(program_dir ${CMAKE_INSTALL_LIBEXECDIR}/varnex)
  set(tool_dir ${CMAKE_INSTALL_BINDIR})
  set(share_dir ${CMAKE_INSTALL_DATADIR}/applications)
  set(metainfo_dir ${CMAKE_INSTALL_DATADIR}/metainfo)
  set(man_dir ${CMAKE_INSTALL_MANDIR}/man1)
  set(completion_dir ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  set(completion_name varnex-convert)
  set(icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
endif()

install(TARGETS varnex-convert RUNTIME DESTINATION ${tool_dir})
install(FILES ${PROJECT_SOURCE_DIR}/tools/varnex-convert.1 DESTINATION ${man_dir})
install(FILES ${PROJECT_SOURCE_DIR}/tools/varnex-convert.bash-completion
  DESTINATION ${completion_dir} RENAME ${completion_name})
configure_file(${PROJECT_SOURCE_DIR}/app/varnex.metainfo.xml.in
  ${PROJECT_BINARY_DIR}/${VARNEX_APP_ID}.metainfo.xml @ONLY)

if(VARNEX_GUI)
  install(TARGETS varnex RUNTIME DESTINATION ${program_dir})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/help/Help DESTINATION ${program_dir})
  install(FILES ${PROJECT_SOURCE_DIR}/app/varnex.png DESTINATION ${icon_dir})
  install(FILES ${PROJECT_BINARY_DIR}/${VARNEX_APP_ID}.metainfo.xml DESTINATION ${metainfo_dir})
  install(CODE "
    set(VARNEX_DESKTOP_ENTRY \"${PROJECT_SOURCE_DIR}/app/varnex.desktop\")
    set(VARNEX_INSTALL_LAYOUT ${VARNEX_INSTALL_LAYOUT})
    set(VARNEX_ENTRY_DIR \"${share_dir}\")
    set(VARNEX_PROGRAM_DIR \"${program_dir}\")
    set(VARNEX_BIN_DIR \"${CMAKE_INSTALL_BINDIR}\")")
  install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake)
endif()

# `cpack` (or the package target): the portable folder as
# Varnex-<version>-Linux-x86_64.tar.gz, one top folder of the same name. A
# project that includes Varnex as a subproject packages on its own terms.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME Varnex)
set(CPACK_PACKAGE_VENDOR "The Varnex developers")
set(CPACK_PACKAGE_FILE_NAME "Varnex-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
if(VARNEX_GUI AND VARNEX_INSTALL_LAYOUT STREQUAL portable)
  set(CPACK_VARNEX_DESKTOP_ENTRY ${PROJECT_SOURCE_DIR}/app/varnex.desktop)
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageDesktopEntry.cmake)
endif()
include(CPack)
