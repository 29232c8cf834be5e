# shellcheck shell=bash
# Sourced by ./tour: --break, the stop's program run once more with one system call made to fail
# by strace's fault injection, to show how the program copes. A stop file says, after its runs,
#   breaks CALLS ERRNO WHEN COMMAND WHY...
#       CALLS the call's names, comma-separated (a 32-bit build's names too: send,sendto);
#       WHEN which of the program's own calls of that name fails (1 is the first; what the
#       loader and a sanitizer's start-up make is added here, and the stop says so); COMMAND
#       the command line, with $prog where the program runs; WHY one sentence on why the
#       program's reaction is the sound one.
#   no_break WHY       where the program examines no call worth breaking.
# The command's standard output is a terminal on every medium (the page too), as where a reader
# pastes it: off one, a program's lines wait in its buffer, and a failed write or a kill takes
# other lines with it (the server's, when kill ends it, are lost).
# The command shown traces the program with its threads and forked children (-f -b execve), and
# strace writes to standard error, where the reader sees it: the calls of that name that failed
# (-Z), the one marked "(INJECTED)" among them, and how the program ended ("+++ exited with 1
# +++"). The tour runs it with a fuller trace in a file of its own, which puts the program's lines
# in the order it wrote them, and shows strace's lines where the command shown prints them, so
# that it shows what the command prints when pasted. The block
# counts only when the call is marked and the program's own end or messages differ from a
# normal run of the same command line (the stop's own run when the line was the program alone,
# or its launch; else a run under strace without the fault, not shown): it says which. With
# --predict a question comes first: what will the program print, and how will it end?
# --inject CALL:ERRNO[:N] (one stop) puts another fault in place of the stop's own; a call the
# program never makes in that command is refused, from the trace of its normal run.

breaking=0 # 1 under --break
breaks_made=0
inject_fault=   # CALL:ERRNO[:N] of --inject, for the one stop named
inject_refused= # why a fault of --inject was refused, once it was

breaks() {
    [ "$breaking" -eq 1 ] || return 0
    local terminal=(--pty)
    local calls=$1 errno=$2 when=$3 line=$4 own_fault=
    shift 4
    if [ -n "$trace_problem" ]; then # one line says why
        emit break-absent "not shown: ${trace_problem#nothing to show: }"
        return 0
    fi
    if [ -n "$inject_fault" ]; then
        own_fault="$errno in the $(ordinal "$when") call of ${calls//,/ or }"
        IFS=: read -r calls errno when <<< "$inject_fault"
        when=${when:-1}
    fi
    emit break-begin "${calls//,/ or }" "$errno" "$when"
    local startup
    startup=$(startup_calls "$calls")
    if [ "$startup" -gt 0 ]; then
        say "strace's when counts every call of ${calls//,/ or } the process makes, the $startup made" \
            "before main starts (the loader reading the C library, a sanitizer setting up) included:" \
            "the $(ordinal "$when") of the program's own is when=$((when + startup))."
    fi
    breaks_made=$((breaks_made + 1))
    local leaks=
    [ "${build[sanitizers]}" != none ] && leaks="-E ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 "
    # The program is traced with its threads and the children it forks (-f), not what a child
    # starts with execve (-b execve: a shell that system() starts keeps its calls, unbroken).
    local trace="strace -f -b execve -q -e trace=$calls $leaks"
    local normal=$work_dir/break.$breaks_made.normal normal_end
    if [ -z "$inject_fault" ] && [ "$line" = "$last_line" ] && program_alone "$line" && [ -f "$work_dir/run.log" ]; then
        cp "$work_dir/run.log" "$normal"
        normal_end=$(end_of_status "$last_status")
    elif [ -z "$inject_fault" ] && [ "$line" = "$launched_line" ] && [ -n "$launched_status" ]; then
        cp "$work_dir/launch.log" "$normal"
        normal_end=$(end_of_status "$launched_status")
    else # a normal run of this line first, not shown, under the same tracer without the fault
        : > "$normal"
        run_events "${terminal[@]}" --log "$normal" -- "${line//"$prog"/"$trace-- $prog"}" > /dev/null &
        bounded_run $! 30
        normal_end=$(end_in_trace "$normal")
    fi
    if [ -n "$inject_fault" ] && ! fault_can_hit "$normal" "$calls" "$when" "$startup"; then
        emit break-result "refused: $inject_refused"
        emit break-end
        return 0
    fi
    break_question "$normal_end"
    when=$((when + startup))
    local fault="-e inject=$calls:error=$errno:when=$when"
    show_command "${line//"$prog"/"strace -f -b execve -q -Z -e trace=$calls $fault $leaks-- $prog"}"
    # What runs is the command shown with its trace, writes and processes' starts included, in a
    # file (-o; whole strings, each descriptor named: -y -s 65536): the lines of both streams
    # come in the order they were written, and tour-run.pl adds the lines the command shown
    # prints on standard error, at their places. -I 2 as where strace writes to a terminal: a
    # signal that ends strace ends the program too.
    local file
    file=$(printf '%q' "$work_dir/break.$breaks_made.trace")
    local traced="strace -f -b execve -I 2 -q -y -s 65536 -o $file -e trace=$calls,write,%process $fault $leaks-- $prog"
    : > "${work_dir:?}/break.log"
    run_events "${terminal[@]}" --status --log "$work_dir/break.log" --trace "$work_dir/break.$breaks_made.trace" \
        --failed "$calls" -- "${line//"$prog"/"$traced"}" &
    bounded_run $! 30
    local status=$? end
    end=$(end_in_trace "$work_dir/break.log")
    [ -z "$end" ] && program_alone "$line" && end=$(end_of_status "$status")
    if ! grep -q -F '(INJECTED)' "$work_dir/break.log"; then
        emit break-result "the call did not fail: strace marked no call (INJECTED), so this run shows nothing new"
        answer '' ''
    else
        local new=0
        without_trace "$normal" "$calls" > "$work_dir/break.normal-messages"
        without_trace "$work_dir/break.log" "$calls" > "$work_dir/break.messages"
        # A line the normal run did not print: the program's own report, most likely.
        grep -qvxF -f "$work_dir/break.normal-messages" "$work_dir/break.messages" && new=1
        emit break-result "$(break_verdict "$end" "$normal_end" "$new")"
        answer "$(break_answer "$end" "$normal_end" "$new")" \
            "its lines beside the normal run's, and its end as strace's last line gives it"
    fi
    if [ -n "$own_fault" ]; then
        note "(a fault chosen with --inject: what the stop says of the program's reaction is about its own fault, $own_fault)"
    else
        say "$@"
    fi
    emit break-end
}

no_break() {
    [ "$breaking" -eq 1 ] || return 0
    emit break-none "$*"
    if [ -n "$inject_fault" ]; then
        inject_refused="$stop_program has no call to break: $*"
        emit break-result "refused: --inject $inject_fault, as $stop_program examines no call"
    fi
}

ordinal() { # 1st, 2nd, 3rd, 4th...
    case $1 in
        1 | *[02-9]1) echo "${1}st" ;; 2 | *[02-9]2) echo "${1}nd" ;; 3 | *[02-9]3) echo "${1}rd" ;; *) echo "${1}th" ;;
    esac
}

# True when command line $1 is the program alone (with its arguments and redirections): then the
# line's status is the program's own, not a later command's (echo's, kill's).
program_alone() {
    [[ $1 == "$prog"* && $1 != *[\;\&\|]* ]]
}

# How a program ended, in words, from the status a shell shows: one above 128 is a signal's.
end_of_status() {
    if [ "$1" -gt 128 ] 2> /dev/null; then
        echo "killed by SIG$(kill -l $(($1 - 128))) (the shell shows $1)"
    else
        echo "status $1"
    fi
}

# How the traced program ended, from strace's last word in log $1; nothing when strace itself was
# ended first (by the command's kill, say).
end_in_trace() {
    local last
    last=$(grep -E '^\+\+\+ (exited with [0-9]+|killed by SIG[A-Z0-9]+)' "$1" | tail -n 1)
    if [[ $last =~ exited\ with\ ([0-9]+) ]]; then
        echo "status ${BASH_REMATCH[1]}"
    elif [[ $last =~ killed\ by\ SIG([A-Z0-9]+) ]]; then
        end_of_status $((128 + $(kill -l "${BASH_REMATCH[1]}")))
    fi
}

# Log $1 without strace's lines (calls of $2, signals, the ends, each with the process's PID in
# front while strace traces more than one): the command's own.
without_trace() {
    grep -vE "^(\[pid +[0-9]+\] )?((${2//,/|})\(|--- SIG|\+\+\+ )" "$1"
}

# The comparison: ends $1 (broken) and $2 (normal), $3 1 when the broken run printed new lines.
break_verdict() {
    local end=$1 normal_end=$2 new=$3
    if [ -z "$end" ] || [ -z "$normal_end" ]; then
        if [ "$new" -eq 1 ]; then
            echo "the reaction differs from the normal run: other messages (the command's kill ends the program in both runs, so there is no status of its own to compare)"
        else
            echo "the program went on as in the normal run: same messages (the command's kill ends it in both runs)"
        fi
    elif [ "$end" != "$normal_end" ]; then
        local was=$normal_end
        [[ $end == status* && $was == status* ]] && was=${was#status }
        echo "the reaction differs from the normal run: $end, where it was $was"
    elif [ "$new" -eq 1 ]; then
        echo "the reaction differs from the normal run: the same end, $end, and other messages"
    elif [[ $end == status* ]]; then
        echo "the program went on as in the normal run: same status (${end#status }), same messages"
    else
        echo "the program went on as in the normal run: same end ($end), same messages"
    fi
}

# --predict: before the broken run, what the learner expects of it; normal end $1.
break_choices=()
break_question() {
    local same=${1:-the same end as without the failure}
    [ -n "$1" ] && same="$1, as without the failure"
    break_choices=("nothing new, and $same" "a message of its own, and $same")
    [ "$1" != "status 1" ] && break_choices+=("a message, and status 1" "no message, and status 1")
    break_choices+=("something else")
    predict "The call fails: what will $stop_program print, and how will it end?" "${break_choices[@]}"
}

# The choice the broken run made: end $1, normal end $2, new lines $3.
break_answer() {
    if [ "$1" = "$2" ]; then
        [ "$3" -eq 1 ] && echo "${break_choices[1]}" || echo "${break_choices[0]}"
    elif [ "$1" = "status 1" ]; then
        [ "$3" -eq 1 ] && echo "a message, and status 1" || echo "no message, and status 1"
    else
        echo "something else"
    fi
}

# --inject: true when the normal run's trace in log $1 holds the $3rd call of $2 that the
# program makes, after the $4 of its start-up; else says why not in inject_refused.
fault_can_hit() {
    local made
    made=$(( $(grep -cE "^(\[pid +[0-9]+\] )?(${2//,/|})\(" "$1") - $4 ))
    [ "$made" -ge "$3" ] && return 0
    if [ "$made" -le 0 ]; then
        inject_refused="$stop_program never calls ${2//,/ or } in this command (the trace of its normal run has no such call)"
    else
        inject_refused="$stop_program makes only $made calls of ${2//,/ or } in this command (the trace of its normal run has no more): the $(ordinal "$3") never comes"
    fi
    return 1
}

# Wait up to $2 seconds for background job $1 (a command's reader) to end, and collect its status;
# then whatever it started, and still runs, is stopped: the tour never waits for ever.
bounded_run() {
    local job=$1 status
    wait_for '! running "$job"' "$2" || end_tree "$job"
    wait "$job" 2> /dev/null
    status=$?
    return "$status"
}

end_tree() { # process $1 and every process it started, the deepest first
    local child
    for child in $(pgrep -P "$1"); do end_tree "$child"; done
    kill "$1" 2> /dev/null
}

# How many calls of $1 (names, comma-separated) the run-time of this build makes before main, as
# the program that does nothing (blank) shows: the loader's read of the C library in any build,
# and more in a sanitizer's start-up.
declare -A startup_count=()
startup_calls() {
    if [ ! -x "$bin_dir/blank" ]; then
        echo 0
        return 0
    fi
    if [ -z "${startup_count[$1]:-}" ]; then
        ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
            strace -f -qq -o "${work_dir:?}/startup" -e trace="$1" "$bin_dir/blank" > /dev/null 2>&1 < /dev/null
        startup_count[$1]=$(grep -cE "^[0-9]+ +(${1//,/|})\(" "$work_dir/startup")
    fi
    echo "${startup_count[$1]}"
}
