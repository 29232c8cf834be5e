#!/usr/bin/env bats
# The minimal samples: their exact output, with and without arguments.
# ctest: TIMEOUT 15

load helper

@test "oldstyle prints 2" {
    run --separate-stderr "$BIN/oldstyle" ignored
    assert_output "2"
    [ -z "$stderr" ]
    cmp <(printf '2\n') <("$BIN/oldstyle") # the exact bytes: run drops a final newline
}

@test "test prints the symbol's name" {
    run --separate-stderr "$BIN/test" ignored
    assert_output "HAVE_MMAP"
    [ -z "$stderr" ]
    cmp <(printf 'HAVE_MMAP\n') <("$BIN/test")
}

@test "blank prints nothing and exits 0" {
    run --separate-stderr "$BIN/blank" ignored
    assert_success
    assert_output ''
    [ -z "$stderr" ]
    cmp /dev/null <("$BIN/blank" 2>&1)
}
