#!/usr/bin/env bats
# Black-box tests of charcopy, spill and attrmark.
# ctest: TIMEOUT 240

load helper

setup() {
    in=$BATS_TEST_TMPDIR/in
    out=$BATS_TEST_TMPDIR/out
}

# --- charcopy --------------------------------------------------------------------------------

@test "charcopy copies every byte unchanged, 0x00 and 0xFF at start, middle and end" {
    { printf '\x00\xffhead'; head -c 20000 /dev/urandom; printf 'mid\xff\x00mid'
      head -c 20000 /dev/urandom; printf 'tail\x00\xff'; } > "$in"
    run --separate-stderr with_stdout "$out" "$BIN/charcopy" < "$in"
    assert_success
    [ -z "$stderr" ]
    cmp "$in" "$out"

    printf '\xff' > "$in"
    "$BIN/charcopy" < "$in" > "$out"
    cmp "$in" "$out"
}

@test "charcopy with empty input writes nothing and succeeds" {
    run --separate-stderr "$BIN/charcopy" < /dev/null
    assert_success
    assert_output ''
    [ -z "$stderr" ]
}

@test "charcopy reports a read error apart from the end of input" {
    run --separate-stderr "$BIN/charcopy" < /
    assert_failure 1
    assert_output ''
    [ "$stderr" = "input error: Is a directory" ]
}

@test "charcopy fails on a full device, with a large input and with a small one" {
    head -c 100000 /dev/zero > "$in"
    run --separate-stderr with_stdout /dev/full "$BIN/charcopy" < "$in"
    assert_failure 1
    [ "$stderr" = "output error: No space left on device" ]

    run --separate-stderr with_stdout /dev/full "$BIN/charcopy" <<< "small"
    assert_failure 1
    [ "$stderr" = "output error: No space left on device" ]
}

@test "charcopy stops at the first failed write of an endless input" {
    # Every putc checked: without that, the copy would run until the time limit.
    run --separate-stderr with_stdout /dev/full timeout 5 "$BIN/charcopy" < /dev/zero
    assert_failure 1
    [ "$stderr" = "output error: No space left on device" ]
}

@test "charcopy writes through the buffer: a few writes of whole blocks, not one a byte or a line" {
    need_strace
    seq 10000 19999 > "$in" # 60000 bytes in 10000 lines
    run traced_calls write bash -c 'exec "$1" < "$2" > "$3"' _ "$BIN/charcopy" "$in" "$out"
    cmp "$in" "$out"
    writes=$(grep -c '^write(1, ' <<< "$output")
    (( writes >= 1 && writes <= 60 )) # a block is 4 KiB or more: 15 writes at most
}

@test "charcopy fails when standard output is closed" {
    run --separate-stderr with_stdout - "$BIN/charcopy" <<< "some text"
    assert_failure 1
    [ "$stderr" = "output error: Bad file descriptor" ]
}

# --- spill -----------------------------------------------------------------------------------

@test "spill with empty input logs the read and nothing else" {
    run --separate-stderr "$BIN/spill" < /dev/null
    assert_success
    assert_output ''
    [ "$stderr" = "read 0 bytes" ]
}

@test "spill sends exactly the first 100000 bytes of a larger input to a file in one attempt" {
    head -c 150000 /dev/urandom > "$in"
    run --separate-stderr with_stdout "$out" "$BIN/spill" < "$in"
    assert_success
    [ "$stderr" = $'read 100000 bytes\nnwrite = 100000, errno = 0' ]
    cmp <(head -c 100000 "$in") "$out"
}

@test "spill into a slow pipe reader retries refused attempts until every byte is out, once" {
    head -c 100000 /dev/urandom > "$in"
    log=$BATS_TEST_TMPDIR/log
    # The reader starts once a write has been refused, whatever the machine's load: the pipe
    # holds less than the input, and nothing reads it before.
    "$BIN/spill" < "$in" 2> "$log" |
        { wait_until 'grep -q "^nwrite = -1, errno = 11$" "$log"' 10 || true; cat > "$out"; }
    cmp "$in" "$out"

    [ "$(head -n 1 "$log")" = "read 100000 bytes" ]
    grep -q '^nwrite = -1, errno = 11$' "$log"
    # Every attempt line is either a refusal or a success, and the successes add up.
    # A success logged with errno 11 would be a stale errno, not cleared before the attempt.
    run ! grep -Ev '^nwrite = (-1, errno = 11|[1-9][0-9]*, errno = 0)$' <(tail -n +2 "$log")
    total=$(awk '/^nwrite = [1-9]/ { sum += $3 } END { print sum }' "$log")
    [ "$total" -eq 100000 ]
}

@test "spill fails with a message when standard output is closed" {
    run --separate-stderr with_stdout - "$BIN/spill" <<< "hello"
    assert_failure 1
    [ "$stderr" = $'read 6 bytes\nfcntl F_GETFL error: Bad file descriptor' ]
}

# A spill that retries for ever logs each attempt: hundreds of megabytes a second. Its log may
# grow to $log_limit KiB; past that, SIGXFSZ ends it, at once rather than at the time limit (and
# without a core file, which that signal would leave in the folder the tests run in).
log_limit=64

@test "spill stops on a full device instead of retrying for ever" {
    head -c 5000 /dev/zero > "$in"
    # shellcheck disable=SC2016 # $1 and $2 are the inner shell's
    run --separate-stderr with_stdout /dev/full timeout 10 bash -c 'ulimit -c 0 && ulimit -f "$1" && exec "$2"' _ \
        "$log_limit" "$BIN/spill" < "$in"
    assert_failure 1
    [ "$stderr" = $'read 5000 bytes\nnwrite = -1, errno = 28\nwrite error: No space left on device' ]
}

@test "spill gives up on the other write errors too: a reader that is gone, a file too large" {
    head -c 5000 /dev/zero > "$in"
    # A pipe whose only reader has closed it, with SIGPIPE ignored: EPIPE.
    mkfifo "$BATS_TEST_TMPDIR/fifo"
    exec 6<> "$BATS_TEST_TMPDIR/fifo" # the reader, first: opening a writer alone would wait
    exec 7> "$BATS_TEST_TMPDIR/fifo"
    exec 6<&-
    # shellcheck disable=SC2016 # $1 and $2 are the inner shell's
    run --separate-stderr timeout 10 bash -c 'trap "" PIPE; ulimit -c 0 && ulimit -f "$2" && exec "$1" >&7 7>&-' _ \
        "$BIN/spill" "$log_limit" < "$in"
    exec 7>&-
    assert_failure 1
    [ "$stderr" = $'read 5000 bytes\nnwrite = -1, errno = 32\nwrite error: Broken pipe' ]

    # A file size limit of one block of 1024 bytes, with SIGXFSZ ignored: EFBIG after the block.
    # shellcheck disable=SC2016
    run --separate-stderr timeout 10 bash -c 'ulimit -f 1 && trap "" XFSZ && exec "$1" > "$2"' _ "$BIN/spill" "$out" < "$in"
    assert_failure 1
    [ "$stderr" = $'read 5000 bytes\nnwrite = 1024, errno = 0\nnwrite = -1, errno = 27\nwrite error: File too large' ]
}

@test "spill with unreadable input logs a failed read and succeeds" {
    run --separate-stderr "$BIN/spill" < /
    assert_success
    [ "$stderr" = "read -1 bytes" ]
}

@test "spill leaves standard output blocking, even when it was non-blocking before" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    exec 5> "$out"
    "$TOOLS/nonblock_exec" sh -c 'awk "/^flags:/ { print \$2 }" /proc/self/fdinfo/1' >&5 2>/dev/null
    is_nonblocking "$(cat "$out")"

    echo "data" > "$in"
    "$TOOLS/nonblock_exec" "$BIN/spill" < "$in" >&5 2>/dev/null
    run ! is_nonblocking "$(fd_flags 5)"
    exec 5>&-

    # Only that flag goes: the others of the open file stay as they were (appending, here).
    exec 5>> "$out"
    "$TOOLS/nonblock_exec" "$BIN/spill" < "$in" >&5 2>/dev/null
    flags=$(fd_flags 5)
    exec 5>&-
    run ! is_nonblocking "$flags"
    (( 8#$flags & 8#2000 )) # O_APPEND

    # After a write error too.
    exec 5> /dev/full
    status=0
    "$TOOLS/nonblock_exec" "$BIN/spill" < "$in" >&5 2> /dev/null || status=$?
    [ "$status" -eq 1 ]
    run ! is_nonblocking "$(fd_flags 5)"
    exec 5>&-
}

@test "spill ended by a signal on a terminal that nobody reads leaves it blocking, by that signal" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # The terminal fills at once, and spill spins on refused writes until the signal comes.
    head -c 100000 /dev/zero > "$in"
    for sig in INT TERM HUP QUIT; do
        run --separate-stderr "$TOOLS/pty_signal" "$sig" -- "$BIN/spill" < "$in"
        assert_success
        assert_output "$sig: ended by signal $(kill -l "$sig"), terminal blocking"
    done
}

@test "spill leaves alone a signal it was started ignoring: under nohup a hang-up does not end it" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    head -c 100000 /dev/zero > "$in"
    # shellcheck disable=SC2016 # $1 is the inner shell's
    run --separate-stderr "$TOOLS/pty_signal" HUP INT -- bash -c 'trap "" HUP; exec "$1"' _ "$BIN/spill" < "$in"
    assert_success
    assert_output "HUP: running, terminal non-blocking
INT: ended by signal 2, terminal blocking"
}

@test "spill stopped by Ctrl-Z leaves the terminal blocking, and makes it non-blocking when it goes on" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    head -c 100000 /dev/zero > "$in"
    run --separate-stderr "$TOOLS/pty_signal" TSTP CONT TSTP CONT INT -- "$BIN/spill" < "$in"
    assert_success
    assert_output "TSTP: stopped by signal 20, terminal blocking
CONT: running, terminal non-blocking
TSTP: stopped by signal 20, terminal blocking
CONT: running, terminal non-blocking
INT: ended by signal 2, terminal blocking"
    # It went on writing after each stop: the refusals continue to the end.
    [ "$(tail -n 1 <<< "$stderr")" = "nwrite = -1, errno = 11" ]
}

# --- attrmark --------------------------------------------------------------------------------

@test "attrmark without exactly one argument prints its usage on standard output" {
    run --separate-stderr "$BIN/attrmark"
    assert_failure 1
    assert_output "USAGE: attrmark {filename}"
    [ -z "$stderr" ]

    run --separate-stderr "$BIN/attrmark" one two
    assert_failure 1
    assert_output "USAGE: attrmark {filename}"
    [ -z "$stderr" ]
    cmp <(printf 'USAGE: attrmark {filename}\n') <("$BIN/attrmark" 2>&1)
}

@test "attrmark reports a file that cannot be opened" {
    run --separate-stderr "$BIN/attrmark" "$BATS_TEST_TMPDIR/missing"
    assert_failure 1
    assert_output ''
    [ "$stderr" = "open: No such file or directory" ]
}

@test "attrmark sets synchronous updates and no-dump on a fresh file" {
    # The build tree sits on the project's own disk; /tmp may be a filesystem without attributes.
    file=$(mktemp "$BIN/../attrmark.XXXXXX")
    run --separate-stderr "$BIN/attrmark" "$file"
    if [[ $stderr == "ioctl: Operation not supported" || $stderr == "ioctl: Inappropriate ioctl"* ]]; then
        rm -f "$file"
        skip "the build tree's filesystem has no file attributes"
    fi
    attrs=$(command -v lsattr > /dev/null && lsattr -d "$file" | cut -d' ' -f1 || true)
    rm -f "$file"
    assert_success
    assert_output $'SYNC flag set\nNODUMP flag set'
    [ -z "$stderr" ]
    [[ -z $attrs || ($attrs == *S* && $attrs == *d*) ]]
}

@test "attrmark on a filesystem that refuses the request reports the ioctl" {
    [ "$(stat -f -c %T /dev/shm 2> /dev/null)" = tmpfs ] || skip "/dev/shm is not a tmpfs here"
    file=$(mktemp /dev/shm/attrmark.XXXXXX)
    run --separate-stderr "$BIN/attrmark" "$file"
    rm -f "$file"
    assert_failure 1
    assert_output ''
    [ "$stderr" = "ioctl: Operation not supported" ]
}

# Print the name of a fresh file in the build tree, on the project's own disk (/tmp may be a
# filesystem without attributes). Fails when attrmark cannot set attributes there.
attr_file() {
    local file
    file=$(mktemp "$BIN/../attrmark.XXXXXX") || return 1
    if ! "$BIN/attrmark" "$file" > /dev/null 2>&1; then
        rm -f "$file"
        return 1
    fi
    # Set once on this file, the attributes may not be set again in the same way on some
    # filesystems: a fresh one for the test.
    rm -f "$file"
    mktemp "$BIN/../attrmark.XXXXXX"
}

@test "attrmark reports lost output: its usage line, and its two lines closed or full" {
    run --separate-stderr with_stdout - "$BIN/attrmark"
    assert_failure 1
    [ "$stderr" = "output error: Bad file descriptor" ]

    file=$(attr_file) || skip "the build tree's filesystem has no file attributes"
    run --separate-stderr with_stdout - "$BIN/attrmark" "$file"
    rm -f "$file"
    assert_failure 1
    [ "$stderr" = "output error: Bad file descriptor" ]

    file=$(attr_file)
    run --separate-stderr with_stdout /dev/full "$BIN/attrmark" "$file"
    rm -f "$file"
    assert_failure 1
    [ "$stderr" = "output error: No space left on device" ]
}

@test "attrmark with descriptor 0, 1 or 2 closed: /dev/null takes it, the file is 3" {
    need_strace
    touch "$in"
    run traced_calls openat bash -c 'exec "$@" <&-' _ "$BIN/attrmark" "$in"
    assert_line 'openat(AT_FDCWD, "/dev/null", O_WRONLY) = 0'
    assert_line "openat(AT_FDCWD, \"$in\", O_RDONLY) = 3"

    run traced_calls openat bash -c 'exec "$@" >&-' _ "$BIN/attrmark" "$in"
    assert_line 'openat(AT_FDCWD, "/dev/null", O_RDONLY) = 1'
    assert_line "openat(AT_FDCWD, \"$in\", O_RDONLY) = 3"

    run traced_calls openat bash -c 'exec "$@" 2>&-' _ "$BIN/attrmark" "$in"
    assert_line 'openat(AT_FDCWD, "/dev/null", O_RDONLY) = 2'
    assert_line "openat(AT_FDCWD, \"$in\", O_RDONLY) = 3"
}

@test "spill fails on a write that takes nothing, and on flags that cannot be set" {
    need_fault_injection
    head -c 5000 /dev/zero > "$in"
    # The log line of the read is the first write, the first attempt on standard output the second.
    assert_fault_ends_it write:retval=0:when=2 \
        $'read 5000 bytes\nnwrite = 0, errno = 0\nwrite error: nothing written' \
        "$BIN/spill" < "$in"

    # The shared set_fl: reading the flags (first fcntl) works, writing them (second) fails.
    assert_fault_ends_it fcntl,fcntl64:error=EBADF:when=2 \
        $'read 5000 bytes\nfcntl F_SETFL error: Bad file descriptor' \
        "$BIN/spill" < "$in"

    # The shared clr_fl at the end (third and fourth fcntl): every byte is out, yet the
    # descriptor could not be made blocking again, and that is a failure too.
    run --separate-stderr with_stdout "$out" with_fault fcntl,fcntl64:error=EBADF:when=4 -- "$BIN/spill" < "$in"
    assert_failure 1
    cmp "$in" "$out"
    [ "$stderr" = $'read 5000 bytes\nnwrite = 5000, errno = 0\nfcntl F_SETFL error: Bad file descriptor' ]
}
