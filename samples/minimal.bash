# shellcheck shell=bash
# For the tour's stops of the minimal programs (oldstyle, test, blank).

# The choice a run of one line made: that line, or "nothing".
first_line_or_nothing() {
    if [ -s "$work_dir/run.log" ]; then head -n 1 "$work_dir/run.log"; else echo nothing; fi
}

# The one thing oldstyle and test examine: whether their line reached standard output.
output_break() {
    breaks write EIO 1 "$prog" \
        "The line never reached standard output, and the status says so: 1. By design nothing goes" \
        "to standard error, so the status is the only report."
}

# The kernel's view of a minimal program: its start-up counted, not listed; $1 what main does.
minimal_view() {
    kernel_view '^execve\(|^write\(1,|^exit_group\(|^\+\+\+' 3 \
        "Everything between execve and exit_group that is left out is the cost of starting a" \
        "program: the loader mapping the C library (mmap, mprotect, openat) and the library setting" \
        "itself up." "$1"
}
