#!/usr/bin/env bats
# The tour's questions (--predict): answered at a terminal (a pseudo-terminal here), shown with
# their answers without one, and decided by the run: stand-ins for programs change the answers.
# ctest: TIMEOUT 600 COST 57 SCRIPT PRIVATE_IPC PRIVATE_NET port_5678 message_queue_0x12345

load helper

setup() {
    tour_setup
}

teardown() {
    tour_teardown
    remove_nobody_folder
}

# The tour with arguments after --, on a terminal of its own, each prediction it asks for
# answered by the next of the words before --.
tour_answered() {
    SYSZOO_MARK=$mark NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" 'your prediction' "$@" 3>&-
}

@test "predictions typed at a terminal: a right one, a wrong one, a number for a range, then the score" {
    run tour_answered a b z 0 -- "$ROOT/tour" --predict oldstyle test blank
    assert_success
    assert_line "Prediction held: a) 2. (its line of output)"
    assert_line "Prediction missed: you said b) 1; the run says a) HAVE_MMAP. (its line of output)"
    # z names no choice and is asked again, saying what is accepted; 0 is a number the choice "0" holds
    [ "$(grep -o 'your prediction' <<< "$output" | wc -l)" -eq 4 ]
    assert_line "(not a choice: type a letter from a to c, or a number one of them holds)"
    assert_line "Prediction held: a) 0. (the line 'status ...')"
    assert_line "Predictions: 2 of 3 predicted."
    # each question before its run, its verdict after
    [ "$(grep -n -m 1 '^Predict: value is 2' <<< "$output" | cut -d: -f1)" -lt \
        "$(grep -n -m 1 '^\$ .*oldstyle$' <<< "$output" | cut -d: -f1)" ]
    tour_left_nothing "$mark"
}

@test "the README's example of --predict is a run of the tour: made again, it is the same" {
    run tour_answered b 0 -- "$ROOT/tour" --predict farewell shellrun
    assert_success
    # from the first stop on, the programs' folder as the README shows it
    local shown readme
    # The note on lines that came on both streams at once depends on when the tour read them.
    shown=$(sed -n '/^-- farewell:/,$p' <<< "$output" | sed "s|$(shown_bin)/|build/bin/|g" | without_order_notes)
    readme=$(awk '/missed and one held:$/ { on = 1; next }
        on && /^    / { sub(/^    /, ""); print; started = 1; next }
        on && started && /^$/ { print; next } started { exit }' "$ROOT/README.md")
    [ -n "$readme" ]
    diff <(echo "$readme") <(echo "$shown")
}

@test "Ctrl-C at a question ends the tour with the score of the questions the runs decided" {
    run tour_answered a $'\x03' -- "$ROOT/tour" --predict farewell samples
    assert_failure 130
    assert_line "Prediction held: a) first, first, second. (its lines '... exit handler')"
    assert_line "Predictions so far: 1 of 1 predicted."
    tour_left_nothing "$mark"
    # a Ctrl-C that comes just before the tour begins to wait for the answer, nothing typed after
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" --limit 30 'your prediction' '(nothing)' -- \
        env LD_PRELOAD="$TOOLS/libinterrupt_at_read.so" bash "$ROOT/tour" --predict farewell 3>&-
    assert_failure 130
    assert_line "tour interrupted; stopping what it started"
    refute_line --partial "Prediction"
    tour_left_nothing "$mark"
}

@test "a number answers a question of ranges by the range that holds it; no answer is no prediction" {
    # spill's refusals: 1 to 99 is choice b, and 50 falls in it, while the run counts thousands
    run tour_answered 50 -- "$ROOT/tour" --predict spill farewell
    assert_success
    assert_line --regexp "^Prediction missed: you said b\) 1 to 99; the run says d\) 10000 or more\. "
    # the input ended before farewell's question
    assert_line "No prediction; the run says a) first, first, second. (its lines '... exit handler')"
    assert_line "Predictions: 0 of 2 predicted."
}

@test "without a terminal on standard input each question is shown with its answer, and no score" {
    run --separate-stderr tour --predict samples farewell shellrun < /dev/null
    assert_success
    assert_line "Predict: In which order do the handlers' lines come?"
    assert_line "  b) second, first, first"
    assert_line "Answer: a) first, first, second. (its lines '... exit handler')"
    assert_line "Answer: a) 0. (the line 'status ...')"
    assert_line "Answer: a) HAVE_MMAP. (its line of output)"
    refute_output --partial "your prediction"
    refute_output --partial "Predictions:"
    # without --predict, no question at all
    run --separate-stderr tour farewell < /dev/null
    assert_success
    refute_output --partial "Predict:"
}

@test "answers the run decides follow the run: stand-ins for the programs change them, and the verdict" {
    fake_programs
    stand_in farewell 'echo "main is done"; echo "second exit handler"; echo "first exit handler"; echo "first exit handler"'
    stand_in shellrun 'sh -c "$1"' # the command's status passes through
    stand_in oldstyle 'exit 0' # prints nothing
    # three refusals, where the real one has thousands
    stand_in spill 'n=$(wc -c); echo "read $n bytes" >&2; for i in 1 2 3; do echo "nwrite = -1, errno = 11" >&2; done
        head -c "$n" /dev/zero; echo "nwrite = $n, errno = 0" >&2'
    stand_in pairjoin 'echo "total iterations: 7"'
    stand_in tickmeter 'printf "parent times\n\tuser CPU:   0.50 secs\nchild times\n\tuser CPU:   0.01 secs\n"'
    stand_in client 'echo "connect: Operation now in progress" >&2; echo "error:Connection timed out"; exit 1'
    stand_in interleave 'echo "output from parent"; echo "output from child"'
    export SYSZOO_BIN=$fake/bin SYSZOO_BUILD_INFO=$BUILD_INFO
    run --separate-stderr tour --predict farewell shellrun oldstyle spill pairjoin tickmeter client interleave < /dev/null
    assert_success
    assert_line "Answer: a) fewer than 10. (the line 'total iterations: ...')"
    assert_line --regexp "^Answer: a\) the program's own\. "
    assert_line --regexp "^This time the program's own figure is the larger" # and what follows says why
    refute_output --partial "The children (the shell and grep) did the work"
    assert_line "Answer: c) Connection timed out. (the line 'error:...')"
    assert_line "Answer: a) the parent's line, then the child's. (its two lines of output)"
    assert_line "Answer: b) second, first, first. (its lines '... exit handler')"
    assert_line "Answer: c) 2. (the line 'status ...')"
    assert_line "Answer: b) nothing. (its line of output)"
    assert_line --regexp "^Answer: b\) 1 to 99\. "
    # at a terminal, the answer that the real farewell makes right is wrong now
    run tour_answered a -- "$ROOT/tour" --predict farewell
    assert_success
    assert_output --partial "Prediction missed: you said a) first, first, second; the run says b) second, first, first."
    assert_line "Predictions: 0 of 1 predicted."
}

@test "relay's answer is gdb's value of ret, not a value gdb printed before it or the program's line" {
    # a stand-in debugger: finish reports the value returned ($1), then 'print ret' shows 0
    mkdir -p "$BATS_TEST_TMPDIR/path"
    printf '#!/bin/bash\n%s\n' 'echo "Value returned is \$1 = 10"; echo "\$2 = 0"; echo "make_key returns 10"' \
        > "$BATS_TEST_TMPDIR/path/gdb"
    chmod +x "$BATS_TEST_TMPDIR/path/gdb"
    PATH=$BATS_TEST_TMPDIR/path:$PATH run --separate-stderr tour --predict relay < /dev/null
    assert_success
    assert_line --regexp "^Answer: a\) 0, as nothing has been stored yet\. "
    # the real debugger: its value, 10
    command -v gdb > /dev/null || return 0
    run --separate-stderr tour --predict relay < /dev/null
    assert_success
    assert_line --regexp "^Answer: b\) 10\. "
}

# A build-info file naming stops of the test's own, in folder quiz: each NAME BODY pair a stop
# file quiz/NAME.tour whose routine stop is BODY; the programs are the built ones.
quiz_stops() {
    local src=$BATS_TEST_TMPDIR/src
    mkdir -p "$src/quiz"
    export SYSZOO_BUILD_INFO=$BATS_TEST_TMPDIR/build-info
    printf 'version\t0\npreset\tdefault\nsanitizers\tnone\nsource\t%s\nbin\t%s\nfolder\tquiz\tQuestions\n' \
        "$src" "$BIN" > "$SYSZOO_BUILD_INFO"
    while [ $# -gt 0 ]; do
        printf 'summary "%s"\nstop() {\n%s\n}\n' "$1" "$2" > "$src/quiz/$1.tour"
        printf 'program\t%s\tquiz\tquiz/%s.cpp\tnative\n' "$1" "$1" >> "$SYSZOO_BUILD_INFO"
        shift 2
    done
}

@test "a question declared to vary is asked and answered, and not scored" {
    quiz_stops coin 'predict "Which?" "heads" "tails"; run_shown "echo tails"; answer tails "its line"' \
        dice 'predict --varies "Which?" "heads" "tails"; run_shown "echo tails"; answer tails "its line"'
    run tour_answered b b -- "$ROOT/tour" --predict
    assert_success
    assert_line "(its answer differs from run to run: it is not scored)"
    [ "$(grep -c '^Prediction held: b) tails' <<< "$output")" -eq 2 ]
    assert_line "Predictions: 1 of 1 predicted."
}

@test "the proof of the answers fails a question decided two ways, unless declared to vary, and one given away" {
    # traced or not, decided otherwise
    quiz_stops flip 'predict "Traced?" "0" "1"; run_shown "echo $syscalls"; answer "$(< "$work_dir/run.log")" "its line"' \
        flipping 'predict --varies "Traced?" "0" "1"; run_shown "echo $syscalls"; answer "$(< "$work_dir/run.log")" "its line"' \
        told 'say "It prints seven."; predict "What?" "7" "8"; run_shown "echo 7"; answer 7 "its line"' \
        untold 'say "It prints a number."; predict "What?" "7" "8"; run_shown "echo 7"; answer 7 "its line"; say "Seven."'
    SYSZOO_MARK=$mark run "$ROOT/tests/prove-answers" flip flipping told untold 3>&-
    assert_failure 1
    assert_line "FAILED flip: the runs disagree"
    assert_line "ok     flipping: ab (declared to vary)"
    assert_line "FAILED told: the stop says 'seven' before the answer"
    assert_line "ok     untold: a"
    assert_line "         plain:a plain:a plain:a plain:a plain:a syscalls:b syscalls:b pasted:a"
}

@test "a learner whose terminal only root may open (after su) still answers, and pauses without an error" {
    nobody_checkout
    run env SYSZOO_MARK="$mark" NO_COLOR=1 perl "$ROOT/tests/answer_on_pty.pl" '(your prediction|press Enter)' a '' a -- \
        setpriv --reuid=65534 --regid=65534 --clear-groups env TMPDIR="$nobody_tmp/tmp" SYSZOO_BIN="$nobody_bin" \
        "$nobody_root/tour" --predict --step farewell blank 3>&-
    assert_success
    refute_output --partial "Permission denied"
    assert_line "Prediction held: a) first, first, second. (its lines '... exit handler')"
    assert_line "Prediction held: a) 0. (the line 'status ...')"
    assert_line "Predictions: 2 of 2 predicted."
    [ -z "$(ls -A "$nobody_tmp/tmp")" ]
    tour_left_nothing "$mark"
}
