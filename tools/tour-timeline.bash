# shellcheck shell=bash disable=SC2034 # what it sets is ./tour's to read
# Sourced by ./tour: each stop's timeline (--timeline, and always on the page of --html). It is
# drawn from the run that kernel_view traces, the one whose calls the kernel view shows: there
# the stop's own program is traced with times (-ttt), and so are the commands of the stop that
# run beside it (the server and its client, the tour's kill, ipcrm), each whole, to a trace file
# of its own; tools/tour-timeline.pl draws the stop's processes and threads from all of them
# together, as lanes and arrows. Nothing here runs by itself.

timeline=0
timeline_traces=0 # partner trace files made so far by the traced run
timeline_run=     # the folder of the stop's traced run, once kernel_view has made it
timeline_filter=  # the calls its kernel view keeps

# The options that the stop's own strace gets: times, to put all of a stop's trace files in one
# order. strace aligns results at column 40 counting the time's 18 columns too: at 58, the kernel
# view's lines, their times taken out, are as they are in a trace without them. For a stop that
# has a timeline, also: the bytes written to standard output and error (-e write=1,2), as lines
# after each write that the kernel view leaves out: strace's quoted string keeps only the first
# 32, and the timeline shows every line where it was written (farewell's all leave in one write);
# how long each call took (-T), to draw a call that waited where it returned; and both ends of a
# socket (--decode-fds=socket), so that a connect is matched to the accept that took it by the
# connecting socket's own port. The kernel view shows none of these.
timeline_strace_options() {
    [ "$timeline" -eq 1 ] || return 0
    printf '%s' '-ttt -a 58 '
    timeline_stop_drawn && printf '%s' '-e write=1,2 -T --decode-fds=socket '
}

# True when the stop being shown may have a timeline: one that never has one (a single process,
# nothing between lanes) needs nothing traced for it beyond its kernel view.
timeline_stop_drawn() {
    perl "$root/tools/tour-timeline.pl" --stop "$stop_program" --drawn
}

# In the stop's traced run, sets $command to command line $1 traced as a partner of the stop's
# program: the whole command, through bash, into a trace file of its own, its lines written to
# standard output and error dumped whole as the program's are. Called by
# traced_command for what it does not trace. A stop that never has a timeline (one process,
# nothing between lanes) traces nothing beside its program: its kernel view shows no partner.
timeline_partner() {
    [ "$timeline" -eq 1 ] && [ "$tracing" -eq 1 ] && timeline_stop_drawn || return 0
    timeline_traces=$((timeline_traces + 1))
    local file=${work_dir:?}/trace/p$timeline_traces
    printf '%s\n' "$1" > "$file.command"
    local leaks=
    [ "${build[sanitizers]}" != none ] && leaks="-E ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 "
    command="strace -f -ttt -T --decode-fds=socket -e write=1,2 -A -o $file $leaks-- bash -c $(printf '%q' "$1")"
}

# The kernel view's lines as they are without times: "PID call...", the PID padded as strace pads
# it, without the call's duration (-T: " <0.000012>" at the end), and a socket's descriptor
# without what --decode-fds=socket adds to it (3<TCP:[...]>).
timeline_untimed() {
    sed -E 's/^([0-9]+ +)[0-9]+\.[0-9]+ /\1/
        s/ <[0-9]+\.[0-9]+>$//
        s/([(, =[] ?[0-9]+)<(TCP|TCPv6|UDP|UDPv6|UDPLITE|UDPLITEv6|UNIX|UNIX-STREAM|UNIX-DGRAM|UNIX-SEQPACKET|NETLINK|socket):\[(\[[^]]*\]|[^][])*\]>/\1/g' "$1"
}

# After the stop: its timeline, from every trace file of its traced run (the program's own and
# its partners'), or the one line that says why it has none. A stop left half way shows none.
show_timeline() {
    local run=$timeline_run filter=$timeline_filter
    timeline_run='' timeline_filter=''
    [ "$timeline" -eq 1 ] && [ -z "$abandoning" ] || return 0
    local files=() i
    if [ -n "$run" ] && [ -z "$trace_problem$no_trace" ]; then
        for (( i = 1; i <= 999; i++ )); do # a command that never ran has no trace file
            [ -f "$run/trace/$i.command" ] || break
            [ -f "$run/trace/$i" ] && files+=("$run/trace/$i")
        done
        for (( i = 1; i <= 999; i++ )); do
            [ -f "$run/trace/p$i.command" ] || break
            [ -f "$run/trace/p$i" ] && files+=("$run/trace/p$i")
        done
    fi
    if [ -n "${SYSZOO_TIMELINE_KEEP:-}" ] && [ ${#files[@]} -gt 0 ]; then
        # The stop's traces, kept for the timeline's tests (tests/timeline/*).
        mkdir -p "$SYSZOO_TIMELINE_KEEP/$stop_program" &&
            cp "${files[@]}" "${files[@]/%/.command}" "$SYSZOO_TIMELINE_KEEP/$stop_program/" 2> /dev/null
    fi
    local width=${COLUMNS:-} size # the terminal's, where there is one; at least 80 columns
    [ -n "$width" ] || { size=$(stty size 2> /dev/null < /dev/tty) && width=${size#* }; }
    [[ $width =~ ^[0-9]+$ ]] && [ "$width" -ge 80 ] || width=80
    perl "$root/tools/tour-timeline.pl" --events --stop "$stop_program" --width "$width" --filter "$filter" \
        ${trace_problem:+--absent "$trace_problem"} ${no_trace:+--absent "$no_trace"} -- "${files[@]}"
}
