# shellcheck shell=bash
# For the tour's stops of the minimal programs (oldstyle, test, blank).

# The kernel's view of a minimal program: its start-up counted, not listed; $1 what main does.
minimal_view() {
    kernel_view '^execve\(|^write\(1,|^exit_group\(|^\+\+\+' 3 \
        "Everything between execve and exit_group that is left out is the cost of starting a" \
        "program: the loader mapping the C library (mmap, mprotect, openat) and the library setting" \
        "itself up." "$1"
}
