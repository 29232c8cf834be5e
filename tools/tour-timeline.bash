# shellcheck shell=bash disable=SC2034 # what it sets is ./tour's to read
# Sourced by ./tour: each stop's timeline (--timeline, and always on the page of --html). The
# stop's own program is traced as for --syscalls, with times (-ttt), and so are the commands of
# the stop that run beside it (the server and its client, the tour's kill, ipcrm), each to a
# trace file of its own; tools/tour-timeline.pl draws the stop's processes and threads from all
# of them together, as lanes and arrows. Nothing here runs by itself.

timeline=0
timeline_traces=0 # partner trace files made so far; the stop's own are those after stop_timeline_traces
stop_timeline_traces=0
timeline_filter= # the calls the stop's kernel view keeps (kernel_view sets it)

# The options that the stop's own strace gets: times, to put all of a stop's trace files in one order.
timeline_strace_options() {
    [ "$timeline" -eq 1 ] && printf '%s' '-ttt '
}

# Sets $command to command line $1 traced as a partner of the stop's program: the whole command,
# through bash, into a trace file of its own. Called by traced_command for what it does not trace.
timeline_partner() {
    [ "$timeline" -eq 1 ] && [ "$syscalls" -eq 1 ] && [ -z "$trace_problem$no_trace" ] || return 0
    timeline_traces=$((timeline_traces + 1))
    local file=${work:?}/trace/p$timeline_traces
    printf '%s\n' "$1" > "$work_dir/trace/p$timeline_traces.command"
    local leaks=
    [ "${build[sanitizers]}" != none ] && leaks="-E ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 "
    command="strace -f -ttt -A -o $file $leaks-- bash -c $(printf '%q' "$1")"
}

# The kernel view's lines as they were before times were added: "PID call...".
timeline_untimed() {
    sed -E 's/^([0-9]+) [0-9]+\.[0-9]+ /\1 /' "$1"
}

# After the stop: its timeline, from every trace file it made (the program's own and its
# partners'), or the one line that says why it has none.
show_timeline() {
    [ "$timeline" -eq 1 ] || return 0
    local files=() i
    if [ -z "$trace_problem$no_trace" ]; then
        for (( i = stop_traces + 1; i <= traces; i++ )); do files+=("$work_dir/trace/$i"); done
        for (( i = stop_timeline_traces + 1; i <= timeline_traces; i++ )); do files+=("$work_dir/trace/p$i"); done
    fi
    if [ -n "${SYSZOO_TIMELINE_KEEP:-}" ] && [ ${#files[@]} -gt 0 ]; then
        # The stop's traces, kept for the timeline's tests (tests/timeline/*).
        mkdir -p "$SYSZOO_TIMELINE_KEEP/$stop_program" &&
            cp "${files[@]}" "${files[@]/%/.command}" "$SYSZOO_TIMELINE_KEEP/$stop_program/" 2> /dev/null
    fi
    local width=${COLUMNS:-} size # the terminal's, where there is one; at least 80 columns
    [ -n "$width" ] || { size=$(stty size 2> /dev/null < /dev/tty) && width=${size#* }; }
    [[ $width =~ ^[0-9]+$ ]] && [ "$width" -ge 80 ] || width=80
    perl "$root/tools/tour-timeline.pl" --events --stop "$stop_program" --width "$width" --filter "$timeline_filter" \
        ${trace_problem:+--absent "$trace_problem"} ${no_trace:+--absent "$no_trace"} -- "${files[@]}"
    stop_timeline_traces=$timeline_traces timeline_filter=
}
