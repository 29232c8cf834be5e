# The machine the programs are built for, chosen with SYSZOO_ARCH:
#
#   native  every program for the build machine (the default and asan presets)
#   i386    every program as a 32-bit x86 executable, except the targets passed to
#           syszoo_64bit() below (pairjoin, and the unit tests that link the build machine's
#           GoogleTest), which stay x86-64. Needs a 32-bit compiler runtime: g++-multilib.
#
# In the i386 build the configure step also runs a tiny 32-bit program once. A kernel built
# without 32-bit support (or booted with ia32_emulation=0) refuses it with "Exec format error";
# the programs are still built, but every test then reports itself skipped, with the reason
# printed once before the tests (see tests/CMakeLists.txt).
set(SYSZOO_ARCH native CACHE STRING "Machine the programs are built for: native or i386")
set_property(CACHE SYSZOO_ARCH PROPERTY STRINGS native i386)
set(SYSZOO_I386_PROBE "" CACHE FILEPATH
    "Program run to see whether 32-bit programs run here; empty: a tiny one built for it")

# Set when the tests cannot run here; holds the reason.
set(SYSZOO_TESTS_SKIPPED_BECAUSE "")

# In the i386 build, build target as x86-64 instead: the later -m64 overrides the -m32 that
# every target gets. Elsewhere every target is native already and nothing changes.
# The build-info file records the machine of such a target (SYSZOO_MACHINE).
function(syszoo_64bit target)
  if(SYSZOO_ARCH STREQUAL "i386")
    target_compile_options(${target} PRIVATE -m64)
    target_link_options(${target} PRIVATE -m64)
    set_target_properties(${target} PROPERTIES SYSZOO_MACHINE x86_64)
  endif()
endfunction()

if(SYSZOO_ARCH STREQUAL "native")
  return()
elseif(NOT SYSZOO_ARCH STREQUAL "i386")
  message(FATAL_ERROR "SYSZOO_ARCH is '${SYSZOO_ARCH}': choose native or i386")
endif()

if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  message(FATAL_ERROR
    "The i386 build needs an x86-64 machine; this one is ${CMAKE_SYSTEM_PROCESSOR}. "
    "Use the default preset here.")
endif()

# Compile and link every target as 32-bit x86. Directory options come first on each command
# line, so a target's own -m64 (syszoo_64bit) comes later and wins.
add_compile_options(-m32)
add_link_options(-m32)

set(probe ${SYSZOO_I386_PROBE})
if(NOT probe)
  set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
  set(probe ${probe_dir}/probe)
  file(WRITE ${probe_dir}/probe.cpp
       "#include <cstdio>\nint main() { std::puts(\"32-bit program ran\"); }\n")
  try_compile(probe_built ${probe_dir}/build SOURCES ${probe_dir}/probe.cpp
              COMPILE_DEFINITIONS -m32 LINK_OPTIONS -m32
              COPY_FILE ${probe} OUTPUT_VARIABLE probe_log)
  if(NOT probe_built)
    message(FATAL_ERROR
      "Cannot build a 32-bit x86 program: the i386 build needs the 32-bit compiler runtime "
      "(Debian: apt-get install g++-multilib). The compiler said:\n${probe_log}")
  endif()
endif()

# Through bash: it names the kernel's refusal ("Exec format error"), where a plain exec would
# fall back to running the file as a shell script and report a syntax error instead.
execute_process(COMMAND bash -c "exec \"$0\"" ${probe}
                RESULT_VARIABLE probe_status OUTPUT_VARIABLE probe_output
                ERROR_VARIABLE probe_errors)
if(probe_status EQUAL 0 AND probe_output STREQUAL "32-bit program ran\n")
  message(STATUS "32-bit x86 programs run on this kernel")
elseif(probe_errors MATCHES "Exec format error")
  set(SYSZOO_TESTS_SKIPPED_BECAUSE
      "this kernel cannot run 32-bit x86 programs (Exec format error), so every i386 test is skipped")
  message(WARNING "${SYSZOO_TESTS_SKIPPED_BECAUSE}. The programs are still built.")
else()
  message(FATAL_ERROR
    "A 32-bit test program (${probe}) failed with status ${probe_status}:\n${probe_errors}")
endif()
