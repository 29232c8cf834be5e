# shellcheck shell=bash disable=SC2034 # what it sets is ./tour's to read
# Sourced by ./tour: the kernel's view of a stop (--syscalls). The runs a stop shows, and that
# decide its answers, are never traced: a traced program runs slower (spill makes a tenth of its
# attempts), so its figures are not the ones a learner sees by hand. kernel_view runs the stop's
# commands once more, up to where it is called and shown nowhere, with the stop's own program
# under strace, and shows the calls that carry the lesson from those runs, through
# tour-trace.awk. Nothing here runs by itself.

syscalls=0
trace_problem= # why strace cannot be used here, when it cannot
no_trace=      # why the stop being shown is not traced, when it is not
traces=0       # trace files made so far by the traced run of the stop's commands
stop_program= # the program of the stop being shown
command=       # the command line to run, as traced_command made it
tracing=0      # 1 in the stop's traced run, the one kernel_view makes
traced_run=    # the PID of that run while it runs

check_tracing() {
    local err
    if ! command -v strace > /dev/null; then
        trace_problem="nothing to show: strace is not installed (Debian package strace)."
    elif ! err=$(strace -f -o /dev/null -- true 2>&1); then
        trace_problem="nothing to show: strace cannot trace here (${err%%$'\n'*})."
    fi
}

# Sets $command to command line $1 as it is to be run: in the stop's traced run (kernel_view's)
# the stop's own program runs under strace, which writes the calls to a trace file of its own
# (other commands run as they are, or, for the timeline, traced whole: timeline_partner);
# everywhere else the line as it is.
traced_command() {
    command=$1
    local word=$prog
    [ "$stop_program" = try ] && word=$bin/
    [ "$tracing" -eq 1 ] || return 0
    if [[ $1 != *"$word"* ]]; then
        timeline_partner "$1" # the timeline traces the commands beside the program too
        return 0
    fi
    traces=$((traces + 1))
    local file=${work_dir:?}/trace/$traces
    printf '%s\n' "$1" > "$file.command"
    # A leak check ends by tracing the process itself, which no traced process may do: a
    # sanitizer build runs without it here, so that tracing leaves the stop's output as it was.
    local leaks=
    [ "${build[sanitizers]}" != none ] && leaks="-E ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 "
    command=${1//"$word"/"strace -f $(timeline_strace_options)-A -o $file $leaks-- $word"}
}

# The kernel's view of the stop's runs, under --syscalls: $1 an extended regular expression
# choosing the calls to show, matched from the call's name on (for example '^(bind|listen)\('
# or '^write\(1,'); $2 how many like lines in a row to list before counting the rest (0: all);
# then one or two sentences on what to notice. The calls come from the stop's commands run once
# more up to here, traced, in a subshell whose events go nowhere: it asks nothing, breaks
# nothing and keeps its logs in a folder of its own, and it ends here.
kernel_view() {
    [ "$syscalls" -eq 1 ] && [ -z "$abandoning" ] || return 0
    if [ "$tracing" -eq 1 ]; then
        settle_output
        forget_shared_files
        exit 0
    fi
    if [ -n "$trace_problem$no_trace" ]; then
        emit kernel-absent "$trace_problem$no_trace"
        return 0
    fi
    local filter=$1 repeats=$2 i again=${work_dir:?}/again
    shift 2
    emit kernel-begin
    rm -rf "${again:?}"
    mkdir -p "$again/trace"
    traced_stop_run "$again" > /dev/null 2> "$again/errors" < /dev/null &
    traced_run=$!
    wait_job "$traced_run"
    traced_run=
    timeline_run=$again timeline_filter=$filter # the timeline is drawn from this run too
    for (( i = 1; i <= 999; i++ )); do
        [ -f "$again/trace/$i.command" ] || break
        emit kcommand "$(< "$again/trace/$i.command")"
        [ -f "$again/trace/$i" ] &&
            timeline_untimed "$again/trace/$i" | # the timeline's times are not shown here
            TRACE_FILTER=$filter TRACE_REPEATS=$repeats awk -f "$root/tools/tour-trace.awk"
    done
    say "$@"
    emit kernel-end
}

# The stop run again, in the background (a subshell of its own), with its logs and traces in
# folder $1; kernel_view ends it. It never pauses (--step): its input is not the learner's. The
# files its commands share are its own, made anew: what it removes, at its end or stopped with
# the tour, is never a file of the runs shown.
traced_stop_run() {
    tracing=1 traces=0 timeline_traces=0 work_dir=$1 learner='' breaking=0 step=0 abandoning='' partner_fds=() started_jobs=()
    shared_names=() shared_files=()
    # Stopped with the tour, it removes what its own runs made (a queue, a file).
    trap 'trap "" TERM INT HUP; for routine in "${cleanups[@]}"; do "$routine"; done; exit 143' TERM INT HUP
    stop
    settle_output
    forget_shared_files
}

# Ends the stop's traced run, if one runs, before the tour stops what it started: it removes
# what it made itself.
stop_traced_run() {
    [ -n "$traced_run" ] || return 0
    kill -TERM "$traced_run" 2> /dev/null
    local i
    for (( i = 0; i < 100; i++ )); do running "$traced_run" || break; sleep 0.02; done
    traced_run=
}
