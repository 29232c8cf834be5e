# Run by `cmake --install` (see cmake/install.cmake): writes the build-info file of the installed
# collection, a copy of the build's with the sources and programs where they now are (under the
# prefix given to the install, without DESTDIR) and one more record, "installed PREFIX", which
# tells the tour that it runs from an installed copy.
set(share ${CMAKE_INSTALL_PREFIX}/${syszoo_share_dir})
set(libexec ${CMAKE_INSTALL_PREFIX}/${syszoo_libexec_dir})
file(STRINGS ${syszoo_build_info} lines)
set(info "")
foreach(line IN LISTS lines)
  if(line MATCHES "^source\t")
    set(line "source\t${share}")
  elseif(line MATCHES "^bin\t")
    set(line "bin\t${libexec}")
  endif()
  string(APPEND info "${line}\n")
endforeach()
string(APPEND info "installed\t${CMAKE_INSTALL_PREFIX}\n")
message(STATUS "Installing: $ENV{DESTDIR}${share}/build-info")
file(WRITE $ENV{DESTDIR}${share}/build-info "${info}")
