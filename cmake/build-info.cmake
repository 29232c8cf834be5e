# The build-info file: what this build made, for the tour, ./check and the tests to read instead
# of guessing it from file names or binaries. Written at configure time, after every folder has
# been added, to ${CMAKE_BINARY_DIR}/build-info. One record a line, fields separated by tabs:
#
#   version     VERSION                      the project's version, from project()
#   preset      NAME                         the preset that configured the build, or none
#   arch        native|i386                  SYSZOO_ARCH
#   sanitizers  NAME,...|none                from -fsanitize= in the compiler flags
#   source      FOLDER                       the sources, the stop files beside them
#   bin         FOLDER                       where the programs are
#   folder      NAME TITLE                   a program folder, in the order of add_subdirectory
#   program     NAME FOLDER SOURCE MACHINE   a program, in the order its folder defines it
#
# A program folder is one that calls syszoo_folder(TITLE); each executable it defines is a
# program, named as its target unless the target's SYSZOO_PROGRAM property names it otherwise.

# Called by a program folder's CMakeLists.txt: its title, which makes it a program folder.
function(syszoo_folder title)
  set_property(DIRECTORY PROPERTY SYSZOO_TITLE "${title}")
endfunction()

function(syszoo_write_build_info)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(native_machine x86_64)
  else()
    set(native_machine ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  set(sanitizers none)
  if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=([a-z,]+)")
    set(sanitizers ${CMAKE_MATCH_1})
  endif()
  set(preset ${SYSZOO_PRESET})
  if(NOT preset)
    set(preset none)
  endif()
  set(text "version\t${PROJECT_VERSION}\npreset\t${preset}\narch\t${SYSZOO_ARCH}\n")
  string(APPEND text "sanitizers\t${sanitizers}\nsource\t${PROJECT_SOURCE_DIR}\n")
  string(APPEND text "bin\t${CMAKE_RUNTIME_OUTPUT_DIRECTORY}\n")
  set(programs "")
  get_directory_property(folders DIRECTORY ${PROJECT_SOURCE_DIR} SUBDIRECTORIES)
  foreach(dir IN LISTS folders)
    get_directory_property(title DIRECTORY ${dir} SYSZOO_TITLE)
    if(NOT title)
      continue()
    endif()
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${dir})
    string(APPEND text "folder\t${folder}\t${title}\n")
    get_directory_property(targets DIRECTORY ${dir} BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(NOT type STREQUAL "EXECUTABLE")
        continue()
      endif()
      get_target_property(name ${target} SYSZOO_PROGRAM)
      if(NOT name)
        set(name ${target})
      endif()
      get_target_property(sources ${target} SOURCES)
      list(GET sources 0 source)
      get_target_property(machine ${target} SYSZOO_MACHINE)
      if(NOT machine)
        if(SYSZOO_ARCH STREQUAL "i386")
          set(machine i386)
        else()
          set(machine ${native_machine})
        endif()
      endif()
      string(APPEND programs "program\t${name}\t${folder}\t${folder}/${source}\t${machine}\n")
    endforeach()
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/build-info CONTENT "${text}${programs}" @ONLY)
endfunction()
