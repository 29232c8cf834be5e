# What `cmake --install` (and so the Debian package) puts where, under the install prefix:
#
#   bin/syszoo                   the one command on the PATH (tools/syszoo)
#   libexec/syszoo/NAME          every program of the build-info file, off the PATH: some are
#                                named like system commands (test) or generically (server)
#   share/syszoo/                the tour (its script and tools), every program folder's sources,
#                                stop files and stop helpers, the error library's sources, and
#                                the build-info file, rewritten to name these folders
#   share/man/man1/syszoo.1      the command's manual page
#
# Included after syszoo_write_build_info(): the programs and folders come from that file.

include(GNUInstallDirs)
set(SYSZOO_LIBEXEC_DIR ${CMAKE_INSTALL_LIBEXECDIR}/syszoo)
set(SYSZOO_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/syszoo)

file(STRINGS ${CMAKE_BINARY_DIR}/build-info info_lines)
set(source_folders common) # the error library: relay's debugging information points into it too
foreach(line IN LISTS info_lines)
  if(line MATCHES "^program\t([^\t]+)\t")
    install(PROGRAMS ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${CMAKE_MATCH_1} DESTINATION ${SYSZOO_LIBEXEC_DIR})
  elseif(line MATCHES "^folder\t([^\t]+)\t")
    list(APPEND source_folders ${CMAKE_MATCH_1})
  endif()
endforeach()

foreach(folder IN LISTS source_folders)
  install(DIRECTORY ${folder}/ DESTINATION ${SYSZOO_SHARE_DIR}/${folder}
          FILES_MATCHING PATTERN "*.cpp" PATTERN "*.h" PATTERN "*.tour" PATTERN "*.bash")
endforeach()

install(PROGRAMS tour DESTINATION ${SYSZOO_SHARE_DIR})
# The tour's own files, whatever they are: tools/tour-*, and the package list it reads.
file(GLOB tour_tools CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/tour-*)
file(GLOB tour_scripts CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/tour-*.pl)
list(REMOVE_ITEM tour_tools ${tour_scripts})
install(PROGRAMS ${tour_scripts} DESTINATION ${SYSZOO_SHARE_DIR}/tools)
install(FILES ${tour_tools} tools/packages.bash tools/packages.list DESTINATION ${SYSZOO_SHARE_DIR}/tools)
install(PROGRAMS tools/syszoo DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES tools/syszoo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The build-info file as installed, by cmake/install-build-info.cmake; the CODE before it sets
# what that script reads, in the same scope.
install(CODE "set(syszoo_build_info [[${CMAKE_BINARY_DIR}/build-info]])
  set(syszoo_share_dir ${SYSZOO_SHARE_DIR})
  set(syszoo_libexec_dir ${SYSZOO_LIBEXEC_DIR})")
install(SCRIPT cmake/install-build-info.cmake)
