# Read by the package build after project() (CMAKE_PROJECT_INCLUDE, see debian/rules): Debian's
# build flags ask every program for fortified string routines, which need optimisation, and relay
# is built unoptimised (gdb/CMakeLists.txt): it gets none, instead of a warning. Deferred to the
# end of the top-level CMakeLists.txt, when the target exists.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL
               set_property TARGET relay APPEND PROPERTY COMPILE_OPTIONS -U_FORTIFY_SOURCE)
