#!/usr/bin/env bats
# The minimal samples: their exact output, with and without arguments.

load helper

@test "oldstyle prints 2" {
    run --separate-stderr "$BIN/oldstyle" ignored
    assert_output "2"
    [ -z "$stderr" ]
}

@test "test prints the symbol's name" {
    run --separate-stderr "$BIN/test" ignored
    assert_output "HAVE_MMAP"
    [ -z "$stderr" ]
}

@test "blank prints nothing and exits 0" {
    run --separate-stderr "$BIN/blank" ignored
    assert_success
    assert_output ''
    [ -z "$stderr" ]
}
