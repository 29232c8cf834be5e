# shellcheck shell=bash disable=SC2034 # what it sets is ./tour's to read
# Sourced by ./tour: the kernel's view of a stop (--syscalls). The stop's own program runs under
# strace, which writes each run's calls to a trace file in the work folder; kernel_view shows
# the calls that carry the lesson, through tour-trace.awk. Nothing here runs by itself.

syscalls=0
trace_problem= # why strace cannot be used here, when it cannot
no_trace=      # why the stop being shown is not traced, when it is not
traces=0       # trace files made so far; the stop's own are those after stop_traces
stop_traces=0
stop_program= # the program of the stop being shown
command=       # the command line to run, as traced_command made it

check_tracing() {
    local err
    if ! command -v strace > /dev/null; then
        trace_problem="nothing to show: strace is not installed (Debian package strace)."
    elif ! err=$(strace -f -o /dev/null -- true 2>&1); then
        trace_problem="nothing to show: strace cannot trace here (${err%%$'\n'*})."
    fi
}

# Sets $command to command line $1 as it is to be run: under --syscalls the stop's own program
# runs under strace (other programs the stop uses run as they are), which writes the calls to a
# trace file of its own beside the command as shown.
traced_command() {
    command=$1
    local word=$prog
    [ "$stop_program" = try ] && word=$bin/
    if [ "$syscalls" -eq 0 ] || [ -n "$trace_problem" ] || [ -n "$no_trace" ] || [[ $1 != *"$word"* ]]; then
        timeline_partner "$1" # the timeline traces the commands beside the program too
        return 0
    fi
    traces=$((traces + 1))
    local file=${work:?}/trace/$traces # as shown: it is part of the command
    printf '%s\n' "$1" > "$file.command"
    # A leak check ends by tracing the process itself, which no traced process may do: a
    # sanitizer build runs without it here, so that tracing leaves the stop's output as it was.
    local leaks=
    [ "${build[sanitizers]}" != none ] && leaks="-E ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 "
    command=${1//"$word"/"strace -f $(timeline_strace_options)-A -o $file $leaks-- $word"}
}

# The kernel's view of the stop's own runs, under --syscalls: $1 an extended regular expression
# choosing the calls to show, matched from the call's name on (for example '^(bind|listen)\('
# or '^write\(1,'); $2 how many like lines in a row to list before counting the rest (0: all);
# then one or two sentences on what to notice.
kernel_view() {
    timeline_filter=$1 # the timeline keeps the same calls
    [ "$syscalls" -eq 1 ] || return 0
    if [ -n "$trace_problem$no_trace" ]; then
        emit kernel-absent "$trace_problem$no_trace"
        return 0
    fi
    local filter=$1 repeats=$2 i
    shift 2
    [ "$traces" -gt "$stop_traces" ] || return 0
    emit kernel-begin
    for (( i = stop_traces + 1; i <= traces; i++ )); do
        emit kcommand "$(< "$work_dir/trace/$i.command")"
        [ -f "$work_dir/trace/$i" ] &&
            timeline_untimed "$work_dir/trace/$i" | # the timeline's times are not shown here
            TRACE_FILTER=$filter TRACE_REPEATS=$repeats awk -f "$root/tools/tour-trace.awk"
    done
    say "$@"
    emit kernel-end
}
