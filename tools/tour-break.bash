# shellcheck shell=bash
# Sourced by ./tour: --break, the stop's program run once more with one system call made to fail
# by strace's fault injection, to show how the program copes. A stop file says, after its runs,
#   breaks CALLS ERRNO WHEN COMMAND WHY...
#       CALLS the call's names, comma-separated (a 32-bit build's names too: send,sendto);
#       WHEN which of the program's own calls of that name fails (1 is the first; what the
#       loader and a sanitizer's start-up make is added here); COMMAND the command line, with $prog where
#       the program runs; WHY one sentence on why the program's reaction is the sound one.
#   no_break WHY       where the program examines no call worth breaking.
# The block counts only when strace marks the call "(INJECTED)" and the program's status or
# messages differ from a normal run of the same command line (the stop's own last run when it
# was that line, or its launch when it gave the status): it says which.

breaking=0 # 1 under --break
breaks_made=0

breaks() {
    [ "$breaking" -eq 1 ] || return 0
    local calls=$1 errno=$2 when=$3 line=$4
    shift 4
    if [ -n "$trace_problem" ]; then # one line says why
        emit break-absent "not shown: ${trace_problem#nothing to show: }"
        return 0
    fi
    emit break-begin "${calls//,/ or }" "$errno" "$when"
    when=$((when + $(startup_calls "$calls")))
    breaks_made=$((breaks_made + 1))
    local file=$work/break.$breaks_made normal=$work_dir/break.$breaks_made.normal
    local normal_status
    if [ "$line" = "$last_line" ] && [ -f "$work_dir/run.log" ]; then
        cp "$work_dir/run.log" "$normal"
        normal_status=$last_status
    elif [ "$line" = "$launched_line" ] && [ -n "$launched_status" ]; then
        cp "$work_dir/launch.log" "$normal"
        normal_status=$launched_status
    else # a normal run of this line first, not shown
        : > "$normal"
        run_events --log "$normal" -- "$line" > /dev/null &
        wait_ended $! 30
        normal_status=$?
    fi
    local leaks=
    [ "${build[sanitizers]}" != none ] && leaks="-E ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 "
    # The program is traced with its threads and the children it forks (-f), not what a child
    # starts with execve (-b execve: a shell that system() starts keeps its calls, unbroken).
    # Its writes, with whole strings and what each descriptor is (-y), put the lines of both
    # streams in the order it wrote them. -I 2 lets a signal that ends strace end the program too.
    local injected="strace -f -b execve -I 2 -qq -y -s 65536 -o $file -e trace=$calls,write -e inject=$calls:error=$errno:when=$when $leaks-- $prog"
    show_command "${line//"$prog"/"$injected"}"
    : > "${work_dir:?}/break.log"
    run_events --status --log "$work_dir/break.log" --trace "$file" -- "${line//"$prog"/"$injected"}" &
    wait_ended $! 30
    local status=$? hit
    hit=$(grep -m 1 -F '(INJECTED)' "$file" 2> /dev/null | as_traced_plainly)
    if [ -z "$hit" ]; then
        emit break-result "the call did not fail: strace marked no call (INJECTED), so this run shows nothing new"
    else
        emit kline "$hit"
        if [ "$status" != "$normal_status" ]; then
            emit break-result "the reaction differs from the normal run: status $status, where it was $normal_status"
        elif ! cmp -s "$normal" "$work_dir/break.log"; then
            emit break-result "the reaction differs from the normal run: the same status, $status, and other messages"
        else
            emit break-result "the program went on as in the normal run: same status ($status), same messages"
        fi
    fi
    say "$@"
    emit break-end
}

# An strace line as strace shows it without -y and -s: no descriptor's name after its number,
# strings cut after 32 bytes; and without -f's PID in front.
as_traced_plainly() {
    perl -ne 'chomp; s/^\d+ +//;
        s{("(?:[^"\\]|\\.)*")(\.\.\.)?|(\d+)<[^<>"]*>}{
            defined $3 ? $3 : do { my ($s, $more, $n, $cut) = ($1, $2 // "", 0, "\"");
                pos($s) = 1;
                while ($s =~ /\G(\\(?:[0-7]{1,3}|x..|.)|[^"])/gc) { last if ++$n > 32; $cut .= $1 }
                $n > 32 ? "$cut\"..." : "$s$more" } }ge; print "$_\n"'
}

no_break() {
    [ "$breaking" -eq 1 ] || return 0
    emit break-none "$*"
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
