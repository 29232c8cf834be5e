#!/usr/bin/env bats
# The guided tour, on a few quick stops, run without a terminal.
# ctest: TIMEOUT 1200 COST 267 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
}

teardown() {
    tour_teardown
    remove_nobody_folder
}

@test "selected stops show their headings and key lines, and leave nothing behind" {
    claim_queue_key
    # Under a $SHELL that runs nothing, as a login shell of nologin or false: script (the
    # server's terminal) and gdb (relay) must not start their commands with it. (relay runs
    # under gdb, where a sanitized build's leak check cannot.)
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    SHELL=/bin/false run --separate-stderr tour charcopy spill farewell postbox postinfo net relay
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
    # its input is the tour's own, whole: a minimal system has no /etc/services to copy
    assert_line "8893"
    # spill's stop: what the tour counts is marked as the tour's words, not shown as output
    assert_line --regexp '^\(counted by the tour in that log: [0-9]+ attempts, [0-9]+ refused with EAGAIN, 100000 bytes delivered\)$'
    refute_line --regexp "^! .*tour: line [0-9]+: " # no shown command failed to start
    assert_line "-- farewell: exit handlers, and the order they run in --"
    assert_line "second exit handler"
    assert_line --regexp '^queue id:[0-9]+$'
    assert_line "mode:666"
    # the queue the postbox stop made is the tour's: the postinfo stop removes it
    refute_output --partial "was there before"
    assert_line '$ ipcrm -Q 0x12345'
    assert_line "! msgget: No such file or directory"
    assert_line "make_key returns 10"
    assert_line --partial "exited normally"
    refute_output --partial "-- catcher"
    refute_output --partial $'\e[' # no colour without a terminal
    tour_left_nothing "$mark"
}

@test "a folder name selects its programs, in order" {
    run --separate-stderr tour samples
    assert_success
    [ "$(grep '^-- ' <<< "$output" | cut -d: -f1)" = "$(built_programs samples | sed 's/^/-- /')" ]
    assert_line "HAVE_MMAP"
    assert_line "status 0"
}

@test "--list names every program the build made, in its order; an unknown name is an error" {
    run tour --list
    assert_success
    [ "$(awk '{ print $1 }' <<< "$output")" = "$(built_programs)" ]
    first=$(built_programs | head -n 1) last=$(built_programs | tail -n 1)
    assert_line --index 0 --regexp "^$first +$(program_field "$first" 3) +[a-z]"
    assert_line --index "$(( $(built_programs | wc -l) - 1 ))" --regexp "^$last +$(program_field "$last" 3) +[a-z]"


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
# The signal is $interrupt_signal, TERM by default.
interrupt_tour_at() {
    local line=$1 out=$BATS_TEST_TMPDIR/out pid status=0 signal=${interrupt_signal:-TERM}
    shift
    SYSZOO_MARK=$mark "$ROOT/tour" "$@" > "$out" 2>&1 3>&- &
    pid=$!
    wait_until "grep -q '$line' '$out' 2> /dev/null" 30
    kill -STOP "$pid"
    kill -"$signal" "$pid"
    kill -CONT "$pid"
    wait_bounded "$pid" 120 || status=$?  # a hang, not a slow machine
    # as a shell reports a program it killed
    if [ "$status" -ne $((128 + $(kill -l "$signal"))) ] || ! grep -q "tour interrupted" "$out"; then
        echo "after SIG$signal: status $status, output:"
        cat "$out"
        return 1
    fi
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

    # recording a page: the page's writer is done before its unfinished page goes
    mkdir "$BATS_TEST_TMPDIR/pages"
    interrupt_tour_at '^tour: recording pairhalt' --html "$BATS_TEST_TMPDIR/pages/tour.html" farewell pairhalt
    wait_until '[ -z "$(marked_processes "$mark")" ]' 2
    [ -z "$(ls -A "$BATS_TEST_TMPDIR/pages")" ]
    tour_left_nothing "$mark"
}

@test "what the tour started is stopped, even when it ignores SIGTERM or starts more as it is stopped; a hang-up is 129" {
    # One process that ignores SIGTERM, and one that starts another when it gets it.
    export SYSZOO_TOUR_TRY='sh -c "trap \"\" TERM; exec sleep 300" &
        sh -c "trap \"sleep 300 & exit 0\" TERM; while :; do sleep 0.1; done" &
        sleep 0.5; echo started; wait'
    for interrupt_signal in TERM HUP; do
        interrupt_tour_at '^started' try
        wait_until '[ -z "$(marked_processes "$mark")" ]' 2
        tour_left_nothing "$mark"
    done
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
    wait_bounded "$pid" 30 || status=$?
    [ "$status" -eq 130 ] # not 141: the tour must not die writing to the ended marker
    wait_until '[ -z "$(marked_processes "$mark")" ]' 2
    tour_left_nothing "$mark"
}

@test "Ctrl-C at the tour's last line, pressed again and again, still leaves nothing behind" {
    # What the tour started ignores SIGTERM and Ctrl-C: stopping it takes the cleanup about two
    # seconds, and the interrupts come in the middle of it (it ends of itself after five).
    export SYSZOO_TOUR_TRY='sh -c "trap \"\" TERM INT; exec sleep 5" > /dev/null 2>&1 &'
    out=$BATS_TEST_TMPDIR/out
    SYSZOO_MARK=$mark setsid env --default-signal=INT "$ROOT/tour" try > "$out" 2>&1 3>&- &
    pid=$!
    wait_until "grep -q '^End of the tour' '$out' 2> /dev/null" 30
    for _ in 1 2 3 4 5; do
        sleep 0.2
        kill -INT -- "-$pid" 2> /dev/null || break
    done
    wait_bounded "$pid" 10 || true
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

# The lines of the client's standard output and standard error and what the server read, in
# the order shown, from the terminal's text or the page ($1: terminal or page) on standard input.
client_lines() {
    if [ "$1" = terminal ]; then
        tr -d '\r' | grep -aE '^(! connect:|error:|  \[server\] (read:|connection closed))'
    else
        sed -nE 's|^<div class="e"><span class="m">! </span>(connect:.*)</div>$|! \1|p; s|^<div class="o">(error:.*)</div>$|\1|p
            s|^<div class="s"><span class="m">\[server\]&nbsp;</span>(read:.*\|connection closed)</div>$|  [server] \1|p'
    fi
}

# What client_lines shows of the client stop: the server's lines after all of the client's.
client_expected=$'! connect: Operation now in progress\nerror:Success\n  [server] read:TCP TEST\n  [server] connection closed
! connect: Operation now in progress\nerror:Connection refused'

@test "the client stop shows connect's line before the pending error, and the server's after both, 20 runs of 20, on a terminal and on the page" {
    command -v script > /dev/null || skip "script (bsdutils) is not installed"
    expected=$client_expected
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

@test "the server's lines show after the client's, however late the client's own arrive" {
    # A stand-in for the client whose standard output arrives half a second after the client
    # has sent its greeting: by then the server has read it, every time.
    slow=$BATS_TEST_TMPDIR/slow
    mkdir "$slow"
    ln -s "$BIN"/* "$slow"
    rm "$slow/client"
    printf '#!/bin/bash\n"%s/client" | { sleep 0.5; cat; }\nexit "${PIPESTATUS[0]}"\n' "$BIN" > "$slow/client"
    chmod +x "$slow/client"
    SYSZOO_BUILD_INFO=$BUILD_INFO SYSZOO_BIN=$slow run --separate-stderr tour client
    assert_success
    [ "$(client_lines terminal <<< "$output")" = "$client_expected" ]
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
        wait_bounded "$pid" 8 || status=$? # well before pairhalt would end by itself
        [ "$status" -eq "${signal#*:}" ]
        run ! grep -qxE '(\x1b\[31m)?! (\x1b\[0m)?' "$out" # no mark of a line never written
        run ! grep -q Terminated "$out" "$err"
        wait_until '[ -z "$(marked_processes "$mark")" ]' 2
        tour_left_nothing "$mark"
    done
}

@test "a tour stopped while a stop makes the file its commands share removes it, or ends as well when it cannot be made" {
    mkdir -p "$BATS_TEST_TMPDIR/tmp"
    out=$BATS_TEST_TMPDIR/out
    local outcome
    for outcome in made fails; do
        rm -f "$BATS_TEST_TMPDIR/making"
        slow_mktemp file "$outcome"
        PATH=$BATS_TEST_TMPDIR/slow:$PATH TMPDIR=$BATS_TEST_TMPDIR/tmp SYSZOO_MARK=$mark "$ROOT/tour" charcopy \
            > "$out" 2>&1 3>&- &
        pid=$!
        wait_until '[ -e "$BATS_TEST_TMPDIR/making" ]' 60
        # made: the stop comes after it
        [ "$outcome" = fails ] || [ -n "$(ls -A "$BATS_TEST_TMPDIR/tmp")" ]
        kill -TERM "$pid"
        status=0
        wait_bounded "$pid" 30 || status=$?
        [ "$status" -eq 143 ] || { echo "$outcome: status $status"; cat "$out"; return 1; }
        ls -A "$BATS_TEST_TMPDIR/tmp"
        [ -z "$(ls -A "$BATS_TEST_TMPDIR/tmp")" ]
        tour_left_nothing "$mark"
    done
}

@test "in a checkout it cannot write, the tour works in TMPDIR and leaves nothing there" {
    nobody_checkout
    tmp=$nobody_tmp/tmp
    run --separate-stderr as_nobody env TMPDIR="$tmp" SYSZOO_BIN="$nobody_bin" SYSZOO_MARK="$mark" \
        "$nobody_root/tour" charcopy spill 3>&-
    assert_success
    refute_output --partial "Permission denied"
    # the files its commands share: made by mktemp, in TMPDIR, never in the tour's own folder
    assert_line '$ block=$(mktemp)'
    assert_line --regexp '^\$ .*/spill < "\$block" > "\$copy"$'
    assert_line '$ rm "$block" "$log" "$copy"'
    assert_line "100000" # what the slow reader counted
    [ -z "$(ls -A "$tmp")" ]
    tour_left_nothing "$mark"
}

@test "without a folder to work in, the tour says so and runs no stop" {
    nobody_checkout
    run --separate-stderr as_nobody env TMPDIR="$nobody_tmp/none" SYSZOO_BIN="$nobody_bin" SYSZOO_MARK="$mark" \
        "$nobody_root/tour" spill 3>&-
    assert_failure 1
    assert_output ''
    [ "$stderr" = "tour: cannot make a folder to work in, neither in $nobody_root/build nor in $nobody_tmp/none: set TMPDIR to a folder you can write" ]
}

@test "a checkout it can neither build in nor find built programs in: the tour says how to point it at some" {
    nobody_checkout
    checkout=$nobody_root
    run --separate-stderr as_nobody env -u SYSZOO_BIN -u SYSZOO_BUILD_INFO TMPDIR="$nobody_tmp/tmp" SYSZOO_MARK="$mark" "$checkout/tour" blank 3>&-
    assert_failure 1
    assert_output ''
    [[ $stderr == *"tour: the programs are not built, and $checkout/build cannot be written"* ]]
    [[ $stderr == *"SYSZOO_BIN="* ]]
    [ -z "$(ls -A "$nobody_tmp/tmp")" ]

    # The copy it advises lands where the command after it looks, whatever the home holds: here
    # an older syszoo folder, which stays as it was.
    home=$nobody_tmp/home
    mkdir -p "$home/syszoo"
    echo old > "$home/syszoo/tour"
    chown -R 65534:65534 "$home"
    run --separate-stderr as_nobody env -u SYSZOO_BIN -u SYSZOO_BUILD_INFO HOME="$home" TMPDIR="$nobody_tmp/tmp" SYSZOO_MARK="$mark" "$checkout/tour" blank 3>&-
    assert_failure 1
    advice=$(sed -n 's/^tour: build a copy you can write (\(.*\)),$/\1/p' <<< "$stderr")
    [ -n "$advice" ]
    copy_command=${advice% && *}
    run as_nobody env HOME="$home" bash -c "$copy_command"
    assert_success
    started=${advice##* && }
    [ "$(eval "printf '%s' $started")" != "$home/syszoo/tour" ]
    cmp "$(eval "printf '%s' $started")" "$checkout/tour"
    [ "$(ls -A "$home/syszoo")" = tour ] && [ "$(cat "$home/syszoo/tour")" = old ]
}

# A stranger's program listening on TCP port 5678 at address $1 (0.0.0.0, ::), in a network
# namespace of the test's own, while the tour runs its net stops there: the tour's output, and
# in $heard what the stranger received.
tour_beside_stranger() {
    command -v perl > /dev/null || skip "perl is needed for the stranger's listener"
    command -v ip > /dev/null || skip "ip (iproute2) is needed to bring up loopback in a network namespace"
    local netns=(unshare --net)
    "${netns[@]}" true 2> /dev/null || netns=(unshare --user --map-root-user --net)
    "${netns[@]}" true 2> /dev/null || skip "no network namespace can be made here"
    heard=$BATS_TEST_TMPDIR/heard
    : > "$heard"
    local stranger='use IO::Socket::IP; open my $f, ">>", $ARGV[1] or die; $f->autoflush(1);
        my $s = IO::Socket::IP->new(LocalHost => $ARGV[0], LocalPort => 5678, Listen => 5,
            ReuseAddr => 1) or die "listen: $@\n";
        print $f "listening\n";
        while (my $c = $s->accept) { while (sysread($c, my $b, 4096)) { print $f "heard: $b\n" } }'
    # shellcheck disable=SC2016 # expanded by the shell in the namespace
    run --separate-stderr "${netns[@]}" bash -c '
        ip link set lo up || exit 99
        perl -e "$1" "$2" "$3" 3>&- & listener=$!
        for (( i = 0; i < 250; i++ )); do grep -q listening "$3" && break; sleep 0.02; done
        SYSZOO_MARK=$4 timeout 60 "$5/tour" server client 3>&-
        status=$?
        kill "$listener"; wait "$listener"
        exit "$status"' bash "$stranger" "$1" "$heard" "$mark" "$ROOT"
}

@test "a stranger listening on port 5678 at any address makes the net stops step aside, and hears nothing" {
    for address in 0.0.0.0 ::; do
        if [ "$address" = :: ] && [ ! -e /proc/net/tcp6 ]; then continue; fi # no IPv6 here
        tour_beside_stranger "$address"
        assert_success
        [ "$(cat "$heard")" = listening ] # not the greeting, nor the 600 bytes
        [ "$(grep -c '^(something else listens on TCP port 5678: stop it to see this stop)$' <<< "$output")" -eq 2 ]
        refute_line --regexp "^  \\[server\\] "
        refute_line --regexp "^error:"
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

@test "without ipcrm the message queue stops are skipped, and no queue is made" {
    claim_queue_key
    dir=$BATS_TEST_TMPDIR/path
    mkdir "$dir"
    # The first of two commands of one name wins, as on PATH; ln refuses the second.
    ln -s -t "$dir" /usr/local/bin/* /usr/bin/* /bin/* 2> /dev/null || true
    rm -f "$dir/ipcrm" "$dir/apt-get"
    PATH=$dir run --separate-stderr tour ipc
    assert_success
    [ "$(grep -c '^(skipped: this stop needs ipcrm (Debian package util-linux), not installed here)$' <<< "$output")" -eq 2 ]
    run ! queue_exists
    tour_left_nothing "$mark"
}

@test "without lsattr, attrmark's stop neither runs it nor says that it shows anything" {
    dir=$BATS_TEST_TMPDIR/path
    mkdir "$dir"
    ln -s -t "$dir" /usr/local/bin/* /usr/bin/* /bin/* 2> /dev/null || true
    rm -f "$dir/lsattr" "$dir/apt-get"
    PATH=$dir run --separate-stderr tour attrmark
    assert_success
    assert_line --regexp '^\$ .*/attrmark "\$marked"$'
    refute_output --regexp 'lsattr (shows|"?\$?marked)'
    [[ ${output//$'\n'/ } == *"(lsattr, which would show what the filesystem kept, is not installed here)"* ]]
    tour_left_nothing "$mark"
}

@test "another user's queue that keeps the learner out is narrated as it is, and left alone" {
    command -v perl > /dev/null || skip "perl is needed to make a queue"
    claim_queue_key
    nobody_checkout
    perl -e 'use IPC::SysV qw(IPC_CREAT); msgget(0x12345, IPC_CREAT | 0600) // die "msgget: $!\n"'
    before=$(ipcs -q | grep '^0x00012345 ')
    run --separate-stderr as_nobody env TMPDIR="$nobody_tmp/tmp" SYSZOO_BIN="$nobody_bin" SYSZOO_MARK="$mark" \
        "$nobody_root/tour" ipc 3>&-
    assert_success
    text=$(tr '\n' ' ' <<< "$output") # the sentences, unwrapped
    [[ $text == *"and its permissions keep you out: postbox cannot open it"* ]]
    [[ $text != *"postbox opens it and changes nothing"* ]]
    [[ $text != *"your effective IDs"* ]]
    assert_line "queue id:-1"
    assert_line "! msgget: Permission denied"
    assert_line "! msgctl: Permission denied"
    refute_output --partial "ipcrm -Q"
    [ "$(ipcs -q | grep '^0x00012345 ')" = "$before" ]
}

@test "started from another folder, the tour shows commands that work there" {
    cd "$BATS_TEST_TMPDIR"
    run --separate-stderr tour charcopy spill blank
    assert_success
    # every program and every file of the tour's that a shown command names is reachable from here
    paths=$(grep '^\$ ' <<< "$output" | grep -oE '[^ ]*/(bin/[a-z]+|tour\.[0-9]+\.[A-Za-z0-9]{6}/[a-z.]+)' | sort -u)
    [ -n "$paths" ]
    while read -r path; do
        case $path in
            */bin/*) [ -x "$path" ] ;;
            *) [[ $path == /* ]] ;; # the tour's folder is gone now: it was named in full
        esac
    done <<< "$paths"
}

@test "output that cannot be written: the tour says so plainly, exits 1 and leaves nothing behind" {
    for target in /dev/full:"No space left on device" -:"Bad file descriptor"; do
        run --separate-stderr with_stdout "${target%%:*}" tour blank
        assert_failure 1
        [ "$stderr" = "tour: output error: ${target#*:}" ]
        tour_left_nothing "$mark"
    done
}

@test "SYSZOO_BIN may name any folder of programs, a copy of a build's too, from anywhere" {
    dir=$BATS_TEST_TMPDIR/copy/progs
    mkdir -p "$dir"
    cp "$BIN"/* "$dir"
    # Without a build-info file beside the copy the tour takes the checkout's build's. A checkout
    # built only elsewhere (as the package is, in build-deb) has none: the build's goes beside it.
    [ -f "$ROOT/build/build-info" ] || cp "${SYSZOO_BUILD_INFO:?}" "$dir/../build-info"
    run --separate-stderr env -u SYSZOO_BUILD_INFO SYSZOO_BIN="$dir" SYSZOO_MARK="$mark" "$ROOT/tour" blank 3>&-
    assert_success
    assert_line "\$ $dir/blank; echo \"status \$?\""
    assert_line "status 0"
    cd "$BATS_TEST_TMPDIR" # a name relative to where the tour starts
    run --separate-stderr env -u SYSZOO_BUILD_INFO SYSZOO_BIN=copy/progs SYSZOO_MARK="$mark" "$ROOT/tour" blank 3>&-
    assert_success
    assert_line "\$ $dir/blank; echo \"status \$?\""
    tour_left_nothing "$mark"
}

@test "tabs, backslashes, newlines and long lines in commands and output reach the screen as they are" {
    # a command of two lines with a tab in each, output with a tab and a backslash, a long line
    export SYSZOO_TOUR_TRY=$'printf \'a\\tb\\\\\\\\n\\n\'\necho "x\ty"; head -c 10000 /dev/zero | tr "\\0" z; echo'
    run --separate-stderr tour try
    assert_success
    assert_line "\$ printf 'a\\tb\\\\\\\\n\\n'"
    assert_line $'echo "x\ty"; head -c 10000 /dev/zero | tr "\\0" z; echo'
    assert_line $'a\tb\\\\n'
    assert_line $'x\ty'
    assert_line "$(printf 'z%.0s' {1..10000})"
    tour_left_nothing "$mark"
}

@test "a copy of a built checkout notices that its build is the original's, and says what to do" {
    copy=$BATS_TEST_TMPDIR/copy
    mkdir -p "$copy/build"
    cp -R "$ROOT/tour" "$ROOT/tools" "$copy"
    # shellcheck disable=SC2013 # folder names, one a word
    for folder in $(awk -F '\t' '$1 == "folder" { print $2 }' "$BUILD_INFO"); do
        mkdir "$copy/$folder"
        cp "$ROOT/$folder"/*.tour "$copy/$folder"
        cp "$ROOT/$folder"/*.bash "$copy/$folder" 2> /dev/null || true
    done
    # the original's build, copied with it: its build-info file names the original's folders
    awk -F '\t' -v OFS='\t' -v bin="$BIN" '$1 == "bin" { $2 = bin } { print }' "$BUILD_INFO" > "$copy/build/build-info"
    cp -R "$BIN" "$copy/build/bin"
    touch "$copy/build/.tour-built"
    run --separate-stderr env -u SYSZOO_BIN -u SYSZOO_BUILD_INFO SYSZOO_MARK="$mark" "$copy/tour" blank 3>&-
    assert_failure 1
    assert_output ''
    [ "$stderr" = "tour: $copy/build holds a build of the sources in $(awk -F '\t' '$1 == "source" { print $2 }' "$BUILD_INFO"), not of these (a copy?): remove it (rm -r $copy/build), and the tour builds these" ]
    tour_left_nothing "$mark"
}

@test "on a colour terminal, a line of output between the two halves of a line of standard error is not red" {
    command -v script > /dev/null || skip "script (bsdutils) is not installed"
    out=$BATS_TEST_TMPDIR/out
    SYSZOO_TOUR_TRY='printf half >&2; sleep 0.3; echo between; sleep 0.3; echo " rest" >&2' \
        SYSZOO_MARK=$mark script -qec "env -u NO_COLOR '$ROOT/tour' try" /dev/null < /dev/null > "$out" 3>&-
    # the red of "! half" has ended before "between"
    grep -qaF $'\e[31m! half\e[0mbetween' "$out"
    tour_left_nothing "$mark"
}

@test "on a narrow terminal sentences wrap between words at its width; in a pipe at 96 columns, as always" {
    # the same words as in a pipe, only the line breaks differ
    run --separate-stderr tour farewell samples < /dev/null
    assert_success
    piped=$output
    [ -n "$(awk 'length > 60' <<< "$piped")" ]
    [ -z "$(awk 'length > 96' <<< "$piped")" ]
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" --columns 60 'never asked' -- \
        "$ROOT/tour" farewell samples 3>&-
    assert_success
    [ "$(tr -s ' \n' '  ' <<< "$output")" = "$(tr -s ' \n' '  ' <<< "$piped")" ]
    # every line but a command fits: a heading, a question and an answer too
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" --columns 60 'your prediction' a b a a \
        -- "$ROOT/tour" --predict farewell samples 3>&-
    assert_success
    assert_line "Predict: value is 2; it is printed when, taken as an"
    run awk 'length > 60 && !/^(\(your prediction.*> )?\$ /' <<< "$output"
    assert_output ''
    # the kernel's view: its heading and notes too, all but the commands and calls as strace shows them
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" --columns 60 'never asked' -- \
        "$ROOT/tour" --syscalls farewell 3>&-
    assert_success
    assert_output --partial "What the kernel saw"
    run awk 'length > 60 && !/^(\$ |  \$ |  [a-z_0-9]+\(|  [-+]{3} )/' <<< "$output"
    assert_output ''
    tour_left_nothing "$mark"
}

@test "a shown line runs as a shell at a prompt runs it: each program a child of the shell, no report of a signal" {
    # The line's last program is forked by the shell, not put in the shell's place (its page
    # faults would count the shell's start-up), and a shell that reports a program ended by a
    # signal would put its words among the program's own.
    export SYSZOO_TOUR_TRY='sh -c '\''echo "parent $(cat /proc/$PPID/comm)"'\'
    run --separate-stderr tour try
    assert_success
    assert_line "parent bash"
    SYSZOO_TOUR_TRY='sh -c '\''kill -TERM $$'\''; echo "status $?"' run --separate-stderr tour try
    assert_success
    assert_line "status 143"
    refute_line --partial "Terminated"
    tour_left_nothing "$mark"
}
