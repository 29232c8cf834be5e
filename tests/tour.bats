#!/usr/bin/env bats
# The guided tour, on a few quick stops, run without a terminal.

load helper

setup() {
    mark=$BATS_TEST_TMPDIR
    ipcrm -Q 0x12345 2> /dev/null || true
}

teardown() {
    local p
    for p in $(marked_processes "$mark"); do kill "$p" 2> /dev/null || true; done
    ipcrm -Q 0x12345 2> /dev/null || true
}

tour() {
    SYSZOO_MARK=$mark "$ROOT/tour" "$@" 3>&-
}

@test "selected stops show their headings and key lines, and leave nothing behind" {
    run --separate-stderr tour charcopy farewell postbox postinfo net
    assert_success
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

@test "--list names the nineteen stops; an unknown name is an error" {
    run tour --list
    assert_success
    [ "${#lines[@]}" -eq 19 ]
    assert_line --index 0 --regexp '^server +net +'
    assert_line --index 18 --regexp '^blank +samples +'

    run --separate-stderr tour farewell nosuchstop
    assert_failure 2
    assert_output ''
    [ "$stderr" = "tour: unknown stop 'nosuchstop' (./tour --list shows them)" ]

    run tour --help
    assert_success
    assert_output --partial "./tour NAME..."
}

@test "an interrupted tour stops what it started" {
    out=$BATS_TEST_TMPDIR/out
    SYSZOO_MARK=$mark "$ROOT/tour" catcher interleave > "$out" 2>&1 3>&- &
    pid=$!
    wait_until 'grep -q "^oo" "$out"' 20 # interleave's first characters
    kill -TERM "$pid"
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 130 ]
    grep -q "tour interrupted" "$out"
    wait_until '[ -z "$(marked_processes "$mark")" ]' 5
    tour_left_nothing "$mark"
}
