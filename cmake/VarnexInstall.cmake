# Where `cmake --install` puts the programs and their files, and the package
# `cpack` makes of them.
#
# portable (the default): one folder holding varnex, varnex-convert, Help/, the
#   icon, a desktop entry that points at that folder, the AppStream metainfo,
#   README.txt (what it needs to run), install-desktop-entry.sh (adds the entry
#   to the user's menu with the folder's paths wherever it was unpacked), the
#   manual pages in man/man1/ and completion/varnex-convert.bash. The program
#   keeps Log.txt and Settings.ini beside itself while its user can write the
#   folder, else in that user's XDG folders. `cpack` makes a .tar.gz of it.
# prefix: the usual tree under the prefix: bin/varnex-convert, bin/varnex (a
#   link to libexec/varnex/varnex, which keeps Help/ beside it), and the desktop
#   entry, metainfo, icon, compressed manual pages, bash completion, copyright
#   and changelog in their places under share/. The program always keeps
#   Log.txt and Settings.ini in the user's XDG folders. `cpack` makes a Debian
#   package of it, installed under /usr.
# (VARNEX_INSTALL_LAYOUT itself is set in the top CMakeLists.txt: the program's
# code depends on it too.)
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
set(man_pages ${PROJECT_SOURCE_DIR}/tools/varnex-convert.1)
if(VARNEX_GUI)
  list(APPEND man_pages ${PROJECT_SOURCE_DIR}/app/varnex.1)
endif()
if(VARNEX_INSTALL_LAYOUT STREQUAL portable)
  install(FILES ${man_pages} DESTINATION ${man_dir})
  if(VARNEX_STATIC_CONVERT)
    set(VARNEX_CONVERT_NEEDS "varnex-convert is linked statically and needs none of these.")
  else()
    set(VARNEX_CONVERT_NEEDS "varnex-convert needs the C and C++ libraries above.")
  endif()
  set(VARNEX_VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt ${PROJECT_BINARY_DIR}/README.txt @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  if(VARNEX_GUI)
    install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/install-desktop-entry.sh DESTINATION .)
  endif()
else()
  # Compressed as Debian wants them: gzip -9 without a name or time stamp, so
  # the bytes depend on the source alone. The changelog likewise.
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/varnex)
  set(compressed "")
  foreach(source ${man_pages} ${PROJECT_SOURCE_DIR}/packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(gz ${PROJECT_BINARY_DIR}/compressed/${name}.gz)
    add_custom_command(OUTPUT ${gz}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/compressed
      COMMAND gzip -9 -n -c ${source} > ${gz}
      DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${gz})
    if(name STREQUAL changelog)
      install(FILES ${gz} DESTINATION ${doc_dir})
    else()
      install(FILES ${gz} DESTINATION ${man_dir})
    endif()
  endforeach()
  add_custom_target(varnex_compressed_docs ALL DEPENDS ${compressed})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${doc_dir})
  # Only a static varnex-convert needs lintian's override, which gives the reason.
  if(VARNEX_STATIC_CONVERT AND NOT VARNEX_SANITIZE AND NOT VARNEX_FUZZ)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME varnex)
  endif()
endif()
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

# `cpack` (or the package target). A project that includes Varnex as a
# subproject packages on its own terms.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_PACKAGE_NAME Varnex)
set(CPACK_PACKAGE_VENDOR "The Varnex developers")
set(VARNEX_MAINTAINER "The Varnex developers <varnex@example.org>" CACHE STRING
  "Who answers for the Debian package: name <address>")
set(CPACK_PACKAGE_CONTACT "${VARNEX_MAINTAINER}")
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
if(VARNEX_INSTALL_LAYOUT STREQUAL portable)
  # The portable folder as Varnex-<version>-Linux-x86_64.tar.gz, one top folder of the same name.
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME "Varnex-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
  if(VARNEX_GUI)
    set(CPACK_VARNEX_DESKTOP_ENTRY ${PROJECT_SOURCE_DIR}/app/varnex.desktop)
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageDesktopEntry.cmake)
  endif()
else()
  # The prefix tree under /usr as varnex_<version>_<arch>.deb.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME varnex)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VARNEX_HOMEPAGE}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt loads its platform plugin at run time, which the library scan cannot see:
  # without it the window program does not start. The program also uses Qt's platform
  # headers, which hold only for the Qt version it was built with (qt6-base-abi).
  if(VARNEX_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-base-abi (= ${Qt6Gui_VERSION})")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
  endif()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The synopsis is the project's description; this is the extended one.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Varnex takes BMP button glyphs and makes two-image glyphs: the source on
the left, and on the right a generated disabled image in which the glyph's
shape is drawn in a shadow colour, with a one-pixel highlight in a light
colour below and to the right of it, on the glyph's background colour.

The package holds the window program, varnex, which converts glyphs chosen
in a file dialog or dropped on its window, and varnex-convert, which does
the same from a terminal or a script. Each user's settings and log are kept
in that user's own folders.")
endif()
include(CPack)
