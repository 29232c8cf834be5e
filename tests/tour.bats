#!/usr/bin/env bats
# The guided tour, on a few quick stops, run without a terminal.
# ctest: TIMEOUT 150 PRIVATE_IPC port_5678 message_queue_0x12345

load helper

setup() {
    mark=$BATS_TEST_TMPDIR
}

teardown() {
    tour_teardown
}

@test "selected stops show their headings and key lines, and leave nothing behind" {
    claim_queue_key
    # Under a $SHELL that runs nothing, as a login shell of nologin or false: script (the
    # server's terminal) and gdb (relay) must not start their commands with it. (relay runs
    # under gdb, where a sanitized build's leak check cannot.)
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    SHELL=/bin/false run --separate-stderr tour charcopy farewell postbox postinfo net relay
    assert_success
    # The programs' standard error shows marked on standard output: the tour's own is for faults.
    [ -z "$stderr" ]
    assert_line "-- server: a select server: one loop, many clients --"
    assert_line "  [server] read:TCP TEST"
    assert_line "  [server] connection closed"
    assert_line "-- client: a non-blocking connect, finished with select --"
    assert_line "error:Connection refused"
    assert_line "-- charcopy: getc/putc copying; read and write errors told apart --"
    assert_line "! input error: Is a directory"
    assert_line "-- farewell: exit handlers, last registered first --"
    assert_line "second exit handler"
    assert_line --regexp '^queue id:[0-9]+$'
    assert_line "mode:666"
    assert_line "make_key returns 10"
    assert_line --partial "exited normally"
    refute_output --partial "-- spill"
    refute_output --partial $'\e[' # no colour without a terminal
    tour_left_nothing "$mark"
}

@test "a folder name selects its programs, in order" {
    run --separate-stderr tour samples
    assert_success
    [ "$(grep '^-- ' <<< "$output" | cut -d: -f1)" = $'-- oldstyle\n-- test\n-- blank' ]
    assert_line "HAVE_MMAP"
    assert_line "status 0"
}

@test "--list names every program the build made, in its order; an unknown name is an error" {
    run tour --list
    assert_success
    [ "$(awk '{ print $1 }' <<< "$output")" = "$(built_programs)" ]
    assert_line --index 0 --regexp '^server +net +a select server'
    assert_line --index "$(( $(built_programs | wc -l) - 1 ))" --regexp '^blank +samples +'

    run --separate-stderr tour farewell nosuchstop
    assert_failure 2
    assert_output ''
    [ "$stderr" = "tour: unknown stop 'nosuchstop' (./tour --list shows them)" ]

    run tour --help
    assert_success
    assert_output --partial "./tour NAME..."
}

# Start the tour in the background on stops $2..., wait for output line $1, and interrupt it.
# The tour is frozen from the moment the line shows until the signal is sent, so it cannot have
# moved on and stopped anything of its own accord.
interrupt_tour_at() {
    local line=$1 out=$BATS_TEST_TMPDIR/out pid status=0
    shift
    SYSZOO_MARK=$mark "$ROOT/tour" "$@" > "$out" 2>&1 3>&- &
    pid=$!
    wait_until "grep -q '$line' '$out' 2> /dev/null" 30
    kill -STOP "$pid"
    kill -TERM "$pid"
    kill -CONT "$pid"
    wait_bounded "$pid" 30 || status=$?
    [ "$status" -eq 143 ] # 128 + SIGTERM
    grep -q "tour interrupted" "$out"
}

@test "an interrupted tour stops at once everything it started, in every process group" {
    # interleave's child has a parent of its own; after its parent is stopped it has none.
    interrupt_tour_at '^oo' catcher interleave
    wait_until '[ -z "$(marked_processes "$mark")" ]' 2
    tour_left_nothing "$mark"

    # script runs the server in a session of its own; tail and its filter follow the log.
    interrupt_tour_at '\[server\] bind: Success' server
    wait_until '[ -z "$(marked_processes "$mark")" ]' 2
    tour_left_nothing "$mark"
}

@test "Ctrl-C during a program's run ends the tour cleanly, the program with it" {
    # A process group of its own, with the interrupt at its default action, as on a terminal:
    # the interrupt reaches the tour, pairhalt and the marker of pairhalt's standard error.
    out=$BATS_TEST_TMPDIR/out
    SYSZOO_MARK=$mark setsid env --default-signal=INT,QUIT "$ROOT/tour" pairhalt > "$out" 2>&1 3>&- &
    pid=$!
    wait_until "grep -q 'pairhalt\$' '$out' 2> /dev/null" 10
    sleep 0.5
    kill -INT -- "-$pid"
    status=0
    wait_bounded "$pid" 10 || status=$?
    [ "$status" -eq 130 ] # not 141: the tour must not die writing to the ended marker
    wait_until '[ -z "$(marked_processes "$mark")" ]' 2
    tour_left_nothing "$mark"
}

@test "a message queue that was there before the tour is shown, and kept with its messages" {
    command -v perl > /dev/null || skip "perl is needed to put a message in a queue"
    claim_queue_key
    perl -e 'use IPC::SysV qw(IPC_CREAT); my $id = msgget(0x12345, IPC_CREAT | 0600) // die;
             msgsnd($id, pack("l! a*", 1, "keep me"), 0) or die "msgsnd: $!\n"'
    before=$(ipcs -q | grep '^0x00012345 ')
    run --separate-stderr tour ipc
    assert_success
    assert_line --partial "A queue with key 0x12345 exists already"
    assert_line --regexp '^queue id:[0-9]+$'
    assert_line "mode:600"
    assert_line "(the queue was there before the tour, so the part that removes it with ipcrm is skipped)"
    refute_output --partial "ipcrm -Q"
    [ "$(ipcs -q | grep '^0x00012345 ')" = "$before" ] # same id, owner, mode, bytes and messages
    perl -e 'use IPC::SysV; my $id = msgget(0x12345, 0) // die; msgrcv($id, my $m, 64, 0, IPC_NOWAIT) or die;
             exit(substr($m, length(pack("l!", 0))) ne "keep me")'
}

@test "the README has a section for every program the build makes, and a stop file beside each" {
    missing=()
    for name in $(built_programs); do
        grep -qE "^### (.*[ \`])?$name([ ,\`].*)?\$" "$ROOT/README.md" || missing+=("$name: no README section")
        stop=$ROOT/$(program_field "$name" 3)/$name.tour
        [ -f "$stop" ] || missing+=("$name: no $stop")
        [ -f "$ROOT/$(program_field "$name" 4)" ] || missing+=("$name: no source")
    done
    printf '%s\n' "${missing[@]}"
    [ "${#missing[@]}" -eq 0 ]
}

# The lines of the client's standard output and standard error, in the order shown, from the
# terminal's text or the page ($1: terminal or page) on standard input.
client_lines() {
    if [ "$1" = terminal ]; then
        tr -d '\r' | grep -E '^(! connect:|error:)'
    else
        sed -nE 's|^<div class="e"><span class="m">! </span>(connect:.*)</div>$|! \1|p; s|^<div class="o">(error:.*)</div>$|\1|p'
    fi
}

@test "the client stop shows connect's line before the pending error, 20 runs of 20, on a terminal and on the page" {
    command -v script > /dev/null || skip "script (bsdutils) is not installed"
    expected=$'! connect: Operation now in progress\nerror:Success\n! connect: Operation now in progress\nerror:Connection refused'
    out=$BATS_TEST_TMPDIR/out
    page=$BATS_TEST_TMPDIR/page.html
    for (( run = 1; run <= 20; run++ )); do
        NO_COLOR=1 SYSZOO_MARK=$mark script -qec "'$ROOT/tour' client" /dev/null < /dev/null > "$out" 3>&-
        [ "$(client_lines terminal < "$out")" = "$expected" ] || { echo "terminal, run $run:"; cat "$out"; false; }
        tour --html "$page" client 2> /dev/null
        [ "$(client_lines page < "$page")" = "$expected" ] || { echo "page, run $run:"; cat "$page"; false; }
    done
    tour_left_nothing "$mark"
}

@test "TERM or a hang-up while a program runs ends the tour at once, with its status and no stray text" {
    out=$BATS_TEST_TMPDIR/out
    err=$BATS_TEST_TMPDIR/err
    for signal in TERM:143 HUP:129; do
        SYSZOO_MARK=$mark "$ROOT/tour" pairhalt > "$out" 2> "$err" 3>&- &
        pid=$!
        wait_until "grep -q 'pairhalt\$' '$out' 2> /dev/null" 10
        sleep 0.5 # pairhalt runs for about 10 s
        kill -"${signal%:*}" "$pid"
        status=0
        wait_bounded "$pid" 4 || status=$?
        [ "$status" -eq "${signal#*:}" ]
        run ! grep -qxE '(\x1b\[31m)?! (\x1b\[0m)?' "$out" # no mark of a line never written
        run ! grep -q Terminated "$out" "$err"
        wait_until '[ -z "$(marked_processes "$mark")" ]' 2
        tour_left_nothing "$mark"
    done
}

@test "a reader that stops reading ends the tour quietly, and nothing is left behind" {
    err=$BATS_TEST_TMPDIR/err
    SYSZOO_MARK=$mark "$ROOT/tour" server proc 2> "$err" 3>&- | head -n 3 > /dev/null
    run ! grep -q 'write error' "$err"
    [ ! -s "$err" ]
    wait_until '[ -z "$(marked_processes "$mark")" ]' 5
    tour_left_nothing "$mark"
}
