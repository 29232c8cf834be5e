#!/usr/bin/env bats
# The order of a program's lines on standard output and standard error, as the tour shows them:
# the order of its writes, as a trace of the same run has them, or marked where it is not known.
# ctest: TIMEOUT 900 COST 131 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
}

teardown() {
    tour_teardown
}

@test "every stop's lines show in the order they were written, or marked where it is not known, in 10 runs" {
    need_fault_injection
    claim_queue_key
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    # Every command the tour runs and shows as it goes (not a partner's, not a break's) is first
    # run 10 times by the same runner, each under strace -f, and checked by order_check.pl: the
    # stops' own commands, in their own context (the server up, the queue there), not 10 tours.
    local fake=$BATS_TEST_TMPDIR/fake checked=$BATS_TEST_TMPDIR/checked real
    real=$(command -v perl)
    mkdir -p "$fake"
    cat > "$fake/perl" <<EOF
#!/usr/bin/env bash
if [[ \${1:-} == */tools/tour-run.pl ]] && [[ " \$* " != *" --merge "* && " \$* " != *" --trace "* ]]; then
    pty=()
    [[ " \$* " == *" --pty "* ]] && pty=(--pty)
    SYSZOO_ROOT='$ROOT' '$real' '$ROOT/tests/order_check.pl' 10 "\${pty[@]}" -- "\${@: -1}" >> '$checked' 2>&1
fi
exec '$real' "\$@"
EOF
    chmod +x "$fake/perl"
    PATH=$fake:$PATH run --separate-stderr tour
    assert_success
    cat "$checked" >&2
    run ! grep -v '^ok ' "$checked"
    local name
    for name in $(built_programs); do
        grep -q "^ok .*/$name\\b" "$checked" || { echo "$name: no command checked"; false; }
    done
    tour_left_nothing "$mark"
}

@test "farewell's break on a terminal: the failed call, the handlers' lines, the lost output's report, the end, 20 runs of 20" {
    need_fault_injection
    command -v script > /dev/null || skip "script (bsdutils) is not installed"
    local out=$BATS_TEST_TMPDIR/out i
    for (( i = 0; i < 20; i++ )); do
        NO_COLOR=1 SYSZOO_MARK=$mark script -qec "'$ROOT/tour' --break farewell" /dev/null < /dev/null 3>&- |
            tr -d '\r' > "$out"
        # as the program wrote them: main's line fails (strace says so at once), the handlers'
        # three go out, the report, and strace's word on the end last
        [ "$(sed -n '/^Broken on purpose/,/^(exit status/p' "$out" | grep -v '^\$ ' | sed 1d)" = '! write(1, "main is done\n", 13)          = -1 EIO (Input/output error) (INJECTED)
first exit handler
first exit handler
second exit handler
! output error: Input/output error
! +++ exited with 1 +++
(exit status 1)' ] || { cat "$out"; false; }
    done
    tour_left_nothing "$mark"
}

@test "a line begun on one stream is never split by the other stream's lines or the note on their order" {
    # The command writes the start of a line, waits until the runner has read it and sleeps
    # again, stops it, writes a line to each stream and lets it go on: the runner then finds
    # both streams waiting at once.
    local command='printf begun
        for (( i = 0; i < 200; i++ )); do
            [ "$(cut -d " " -f 3 "/proc/$PPID/stat")" = S ] && break
            sleep 0.05
        done
        kill -STOP "$PPID"; echo wrong >&2; echo " and ended"; kill -CONT "$PPID"'
    run perl "$ROOT/tools/tour-run.pl" -- "$command"
    assert_success
    [ "$output" = $'out-part\tbegun\nout-end\t and ended\nerr\twrong' ]
    # whole lines of both streams read at once: their order is not guessed
    run perl "$ROOT/tools/tour-run.pl" -- 'kill -STOP "$PPID"; echo out; echo err >&2; kill -CONT "$PPID"'
    assert_success
    [ "${lines[0]}" = $'unordered\t2' ]
    [ "$(sed 1d <<< "$output" | sort)" = $'err\terr\nout\tout' ]
    # and the start of a line read with the other stream's lines goes after them
    command='kill -STOP "$PPID"; printf begun >&2; echo whole; kill -CONT "$PPID"; sleep 0.5
        echo " and ended" >&2'
    run perl "$ROOT/tools/tour-run.pl" -- "$command"
    assert_success
    [ "$output" = $'unordered\t2\nout\twhole\nerr-part\tbegun\nerr-end\t and ended' ]
}
