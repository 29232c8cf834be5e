#!/usr/bin/env bats
# The tour's broken calls (--break): for every stop that breaks one, strace marks the call
# injected and the program reacts otherwise than in its normal run; a call that is not hit, or a
# failure that changes nothing, is said to be so; without tracing one line says so.
# ctest: TIMEOUT 1200 COST 116 PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
}

teardown() {
    tour_teardown
}

# For each stop in tour output $1: NAME, then what its block of --break shows: "none" (nothing
# to break), or "injected" and "differs" when it shows the call marked and another reaction.
break_blocks() {
    awk '/^-- [a-z0-9]+: / { stop = $2; sub(/:$/, "", stop); print stop > "/dev/stderr"; order[++n] = stop }
        /^Broken on purpose: nothing: / { seen[stop] = seen[stop] " none" }
        /^Broken on purpose: the / { seen[stop] = seen[stop] " block" }
        /\(INJECTED\)$/ { seen[stop] = seen[stop] " injected" }
        /^\(the reaction differs from the normal run: / { seen[stop] = seen[stop] " differs" }
        END { for (i = 1; i <= n; i++) print order[i] seen[order[i]] }' <<< "$1" 2> /dev/null
}

@test "every stop that breaks a call shows it injected and a reaction that differs from the normal run" {
    need_fault_injection
    claim_queue_key
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    run --separate-stderr tour --break
    assert_success
    blocks=$(break_blocks "$output")
    # each stop either breaks a call, and shows both, or says why it has none (no_break)
    local name breaking=0
    for name in $(built_programs); do
        if grep -q '^ *no_break ' "$ROOT/$(program_field "$name" 3)/$name.tour"; then
            grep -qx "$name none" <<< "$blocks"
        else
            breaking=$((breaking + 1))
            grep -qx "$name block injected differs" <<< "$blocks" || { echo "$name: $(grep "^$name" <<< "$blocks")"; false; }
        fi
    done
    # every stop shows its block, and the loop above saw some that break
    [ "$(wc -l <<< "$blocks")" -eq "$(built_programs | wc -l)" ]
    (( breaking > 0 ))
    # the program's own message, in its break: spill's, for one
    assert_line "! write error: No space left on device"
    assert_line "! accept: Too many open files"
    assert_line "! can't catch SIGUSR1: Invalid argument"
    tour_left_nothing "$mark"
}

@test "a call the program does not make, or a failure it ignores, is said to be so" {
    need_fault_injection
    fake=$BATS_TEST_TMPDIR/fake
    mkdir -p "$fake/bin"
    ln -s "$BIN"/* "$fake/bin"
    # pairjoin's stand-in makes one clone (a subshell), not the second that fails; attrmark's
    # makes an ioctl and ignores its failure
    rm "$fake/bin/pairjoin" "$fake/bin/attrmark"
    printf '#!/bin/bash\n(echo "task1 count: 1")\necho "total iterations: 10"\n' > "$fake/bin/pairjoin"
    printf '#!/usr/bin/perl\nioctl(STDIN, 0x5401, my $mode = "\\0" x 64);\nprint "SYNC flag set\\n";\n' > "$fake/bin/attrmark"
    chmod +x "$fake/bin/pairjoin" "$fake/bin/attrmark"
    SYSZOO_BIN=$fake/bin SYSZOO_BUILD_INFO=$BUILD_INFO run --separate-stderr tour --break pairjoin attrmark < /dev/null
    assert_success
    # the one clone is in the trace, but not marked: the block says the call did not fail
    assert_line "(the call did not fail: strace marked no call (INJECTED), so this run shows nothing new)"
    assert_line --regexp '^! ioctl\(.*\(INJECTED\)$'
    assert_line "(the program went on as in the normal run: same status (0), same messages)"
    run ! grep -q "reaction differs" <<< "$output"
}

@test "without permission to trace, one line says so and the stop goes on" {
    mkdir "$BATS_TEST_TMPDIR/tools"
    printf '#!/bin/sh\necho "strace: ptrace(PTRACE_TRACEME, ...): Operation not permitted" >&2\nexit 1\n' \
        > "$BATS_TEST_TMPDIR/tools/strace"
    chmod +x "$BATS_TEST_TMPDIR/tools/strace"
    PATH=$BATS_TEST_TMPDIR/tools:$PATH run --separate-stderr tour --break farewell
    assert_success
    assert_line "Broken on purpose: not shown: strace cannot trace here (strace: ptrace(PTRACE_TRACEME, ...): Operation not permitted)."
    [ "$(grep -c '^Broken on purpose:' <<< "$output")" -eq 1 ]
    assert_line "second exit handler"
    assert_line "End of the tour."
}

@test "--break on the page, and between stops taken one at a time" {
    need_fault_injection
    page=$BATS_TEST_TMPDIR/tour.html
    run --separate-stderr tour --break --html "$page" farewell blank
    assert_success
    [ "$(grep -c '^<div class="break"><p><strong>Broken on purpose:</strong> the first call of write fails with EIO' "$page")" -eq 1 ]
    grep -qE '^<div class="e"><span class="m">! </span>write\(1, .*\(INJECTED\)</div>$' "$page"
    grep -qF '<div class="e"><span class="m">! </span>output error: Input/output error</div>' "$page"
    grep -qF '<p class="note">(the reaction differs from the normal run: status 1, where it was 0)</p>' "$page"
    grep -qF '<p class="note"><strong>Broken on purpose:</strong> nothing: <code>blank</code> examines no call' "$page"
    # --step: Enter after the first stop, its break shown before the question
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" 'press Enter' '' -- \
        "$ROOT/tour" --step --break farewell blank 3>&-
    assert_success
    assert_line --regexp '\(INJECTED\)$'
    assert_line "(the reaction differs from the normal run: status 1, where it was 0)"
    assert_line --partial "Broken on purpose: nothing: blank examines no call"
}

@test "a break's call count includes the loader's start-up calls, so charcopy's second read fails" {
    need_fault_injection
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
    # what ./tour does for charcopy's break: its WHEN (2), plus the build's start-up calls
    declare -A build=([sanitizers]=$(awk -F'\t' '$1 == "sanitizers" { print $2 }' "$BUILD_INFO"))
    local bin_dir=$BIN work_dir=$BATS_TEST_TMPDIR breaking=1
    source "$ROOT/tools/tour-break.bash"
    seq 2000 > "$work_dir/numbers"
    local when=$((2 + $(startup_calls read)))
    run bash -c 'strace -qq -o /dev/null -e trace=read -e inject=read:error=EIO:when="$1" -- \
        "$2" < "$3/numbers" > "$3/copy"' - "$when" "$BIN/charcopy" "$work_dir"
    assert_failure 1
    assert_output "input error: Input/output error"
    # the first read of standard input went through and was copied
    [ "$(wc -c < "$work_dir/copy")" -eq 4096 ]
}

# The tour's output $1 as one line, so that a sentence wrapped over several reads as one.
as_one_line() {
    tr '\n' ' ' <<< "$1"
}

@test "the comparison is of the program's own end: shellrun's status, not echo's; nothing from the server's kill" {
    need_fault_injection
    run --separate-stderr tour --break shellrun server
    assert_success
    # shellrun's end is the trace's last line, not the status of the whole shown line
    assert_line "! +++ exited with 1 +++"
    # the shell's ls, which nobody waits for now, may write the start of its line before it
    assert_line --regexp '^(! ls: )?status 1$'
    assert_line "(the reaction differs from the normal run: status 1, where it was 0)"
    # the server's line ends with kill: its status is kill's, and says nothing of the server
    assert_line --partial "(the reaction differs from the normal run: other messages (the command's kill ends the program in both runs"
    run ! grep -q 'the same status' <<< "$output"
}

@test "the server's break shows the queued connection taken once the shortage is over, off a terminal and on the page" {
    need_fault_injection
    run --separate-stderr tour --break server > /dev/null
    assert_success
    # after the refused accept, the client's connection is taken: the server's lines that follow
    after=$(sed -n '/^Broken on purpose:/,$p' <<< "$output" | sed -n '/^! accept: Too many open files$/,$p')
    grep -qE '^net connection from 127\.0\.0\.1:[0-9]+$' <<< "$after"
    grep -qx 'read:TCP TEST' <<< "$after"
    grep -qx 'connection closed' <<< "$after"
    page=$BATS_TEST_TMPDIR/tour.html
    run --separate-stderr tour --break --html "$page" server
    assert_success
    after=$(sed -n '/^<div class="break">/,$p' "$page" | sed -n '/accept: Too many open files</,$p')
    grep -qE '>net connection from 127\.0\.0\.1:[0-9]+</div>$' <<< "$after"
    grep -qF '>connection closed</div>' <<< "$after"
}

@test "a program that a signal ends is said to be killed by it, with the number the shell shows beside" {
    need_fault_injection
    run --separate-stderr tour --break --predict catcher < /dev/null
    assert_success
    assert_line "(catcher was killed by SIGTERM (the shell shows 143): a process a signal ends has no exit status)"
    assert_line "  c) killed by SIGTERM (the shell shows 143)"
    assert_line --partial "Answer: c) killed by SIGTERM (the shell shows 143)."
    assert_line "(the reaction differs from the normal run: status 1, where it was killed by SIGTERM (the shell shows 143))"
    run ! grep -qE 'status 143|143 \(128' <<< "$output"
}

@test "a break says why its when is larger than the call's place among the program's own" {
    need_fault_injection
    run --separate-stderr tour --break charcopy
    assert_success
    assert_line --partial "Broken on purpose: the 2nd call of read fails with EIO"
    when=$(sed -n 's/^\$ strace .*inject=read:error=EIO:when=\([0-9]*\) .*/\1/p' <<< "$output")
    (( when > 2 ))
    [[ $(as_one_line "$output") == *" the $((when - 2)) made before main starts "*" the 2nd of the program's own is when=$when."* ]]
}

@test "--predict --break: each break is asked before it runs, and its run decides" {
    need_fault_injection
    run --separate-stderr tour --predict --break oldstyle charcopy < /dev/null
    assert_success
    # the question, then the broken command, then the answer the run gave
    sed -n '/^Broken on purpose: the first call of write/,/^Answer:/p' <<< "$output" > "$BATS_TEST_TMPDIR/block"
    [ "$(grep -n -m 1 '^Predict: The call fails: what will oldstyle print, and how will it end?$' "$BATS_TEST_TMPDIR/block" | cut -d: -f1)" -lt \
        "$(grep -n -m 1 '^\$ strace ' "$BATS_TEST_TMPDIR/block" | cut -d: -f1)" ]
    assert_line --partial "Answer: d) no message, and status 1."
    assert_line --partial "Answer: c) a message, and status 1."
    # a person answers on a terminal: the break's question counts in the score
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" 'your prediction' a c -- \
        "$ROOT/tour" --predict --break oldstyle 3>&-
    assert_success
    assert_line --partial "Prediction held: a) 2."
    [[ $(as_one_line "$output") == *"Prediction missed: you said c) a message, and status 1; the run says d) no message, and status 1."* ]]
    assert_line --partial "Predictions: 1 of 2 predicted."
}

@test "--inject puts a fault of one's choosing in one stop's break, and refuses a call the program never makes" {
    need_fault_injection
    run --separate-stderr tour --inject write:ENOSPC charcopy
    assert_success
    assert_line --partial "Broken on purpose: the first call of write fails with ENOSPC"
    # (a sanitizer build passes its leak check's option to the program: -E ASAN_OPTIONS=...)
    assert_line --regexp '^\$ strace .* -e inject=write:error=ENOSPC:when=[0-9]+ (-E ASAN_OPTIONS=[^ ]+ )?-- .*charcopy < "\$numbers" > /dev/null$'
    assert_line "! output error: No space left on device"
    assert_line --partial "(a fault chosen with --inject: what the stop says of the program's reaction is about its own fault, EIO in the 2nd call of read)"
    # accept, which charcopy never calls: refused from the trace of its run, and said so
    run --separate-stderr tour --inject accept:EMFILE charcopy
    assert_failure 2
    assert_line "(refused: charcopy never calls accept in this command (the trace of its normal run has no such call))"
    run ! grep -q '^\$ strace ' <<< "$output"
    [ "$stderr" = "tour: --inject accept:EMFILE refused: charcopy never calls accept in this command (the trace of its normal run has no such call)" ]
    # a third write that never comes: charcopy writes 8893 bytes in three
    run --separate-stderr tour --inject write:EIO:4 charcopy
    assert_failure 2
    assert_line --partial "(refused: charcopy makes only 3 calls of write in this command"
    # one stop, named; a fault strace takes
    for args in "read:EIO fileio" "read:EIO charcopy spill" "read:EIO" "read charcopy" "read:ENOSUCH charcopy"; do
        # shellcheck disable=SC2086 # the words of one case
        run --separate-stderr tour --inject $args
        assert_failure 2
        [ -z "$output" ]
        [[ $stderr == "tour: --inject "* ]]
    done
}

@test "the README's --break example is the client stop's as the tour shows it now" {
    need_fault_injection
    run --separate-stderr tour --break client
    assert_success
    mask() { sed -E 's/0x[0-9a-f]+/0xADDR/g; s/\b[0-9]{4,}\b/N/g' | sed -E 's/htons\(N\)/htons(PORT)/g'; }
    sed -n '/^## Break it/,/^## Install/p' "$ROOT/README.md" | sed -n '/^    With nothing listening/,/^$/p' |
        sed -e 's/^    //' -e '/^$/d' | mask > "$BATS_TEST_TMPDIR/readme"
    sed -n '/^With nothing listening/,/^$/p' <<< "$output" | sed -e '/^$/d' -e "s|$(shown_bin)/|build/bin/|g" \
        -e 's/ -E ASAN_OPTIONS=[^ ]* / /' |
        mask > "$BATS_TEST_TMPDIR/tour"
    [ "$(wc -l < "$BATS_TEST_TMPDIR/readme")" -ge 10 ]
    # the same lines; in the same order, but for a command's lines to standard output and to
    # standard error, whose order is the kernel's to choose
    diff <(sort "$BATS_TEST_TMPDIR/readme") <(sort "$BATS_TEST_TMPDIR/tour")
    diff <(grep -v '^! \|^error:' "$BATS_TEST_TMPDIR/readme") <(grep -v '^! \|^error:' "$BATS_TEST_TMPDIR/tour")
}
