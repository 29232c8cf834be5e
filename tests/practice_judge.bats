#!/usr/bin/env bats
# The judge of the exercise runner and its proof: what a check builds and what counts as a
# verdict, a hanging program, a busy port, teachers' exercise files and their wrong mends, on a
# few quick exercises. The learner's side is practice.bats's.
# ctest: TIMEOUT 2400 COST 436 PRIVATE_NET port_5678

load helper
load practice

setup() {
    practice_setup
}

teardown() {
    stop_pid "${listener:-}"
    stop_pid "${checker:-}"
    local left
    for left in $([ -z "${mark:-}" ] || marked_processes "$mark"); do kill -KILL "$left" 2> /dev/null || true; done
}

# True where the judge's kernel check can see calls: strace runs a command and follows it, as the
# check runs it (-D: the command in strace's own process).
judge_can_trace() {
    command -v strace > /dev/null || return 1
    strace -D -f -qq -o "$BATS_TEST_TMPDIR/probe" -e trace=uname uname > /dev/null 2>&1
    grep -q 'uname(' "$BATS_TEST_TMPDIR/probe" 2> /dev/null
}

@test "the proof refuses an exercise whose test is gone or whose fault no test sees" {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir"
    # A fault in a comment only: the tests pass.
    cat > "$set_dir/1-harmless.patch" << 'EOF'
Title: Nothing broken
Programs: blank
Symptom: none
Test: blank prints nothing and exits 0
Hint: none
Hint: none at all

--- a/samples/blank.cpp
+++ b/samples/blank.cpp
@@ -1,4 +1,4 @@
-// blank: a program that does nothing: two locals set to 0, and a return.
+// blank: a program that does nothing at all: two locals set to 0, and a return.
 //
 // Run:   ./blank; echo $?
 // Watch: no output at all, and status 0.
EOF
    # A test renamed in the suite: the exercise names one that no longer exists.
    sed 's/^Test: test prints the symbol.s name$/Test: test prints the name of the symbol/' \
        "$ROOT"/exercises/*-samples.patch > "$set_dir/2-renamed.patch"
    # A kernel check that the broken copy passes too tells nothing.
    sed 's/^Kernel-expect: .*/Kernel-expect: ^msgget/' "$ROOT"/exercises/*-postbox.patch \
        > "$set_dir/3-loose.patch"
    SYSZOO_EXERCISES=$set_dir run practice prove
    assert_failure 1
    if judge_can_trace; then
        assert_line --regexp '^FAILED loose +the kernel check passes the broken copy too '
    fi
    [ ! -e "$area" ] # a proof leaves nothing in a learner's work area
    assert_line --regexp '^FAILED harmless +broken, run 1: no test failed by an assertion \(1 passed, 0 out of time\)$'
    assert_line --regexp '^FAILED renamed +not judged: the suite has no test named "test prints the name of the symbol"'
}

@test "a build file that does not configure is a failed build, said, and the runner goes on" {
    practice start relay > /dev/null
    echo 'message(FATAL_ERROR "my slip")' >> "$area/relay/src/gdb/CMakeLists.txt"
    run practice check relay
    assert_failure 1
    assert_line --partial "The build failed"
    assert_line --partial "my slip"
    assert_line "Not passed yet: relay"
}

@test "postinfo's kernel check takes any open without IPC_CREAT, and refuses one with it" {
    expect=$(sed -n 's/^Kernel-expect: //p' "$ROOT"/exercises/*-postinfo.patch)
    grep -qE -- "$expect" <<< 'msgget(0x12345, 0) = 0'
    grep -qE -- "$expect" <<< 'msgget(0x12345, 0666) = 0'
    grep -qE -- "$expect" <<< 'msgget(0x12345, 0600) = -1 ENOENT (No such file or directory)'
    run ! grep -qE -- "$expect" <<< 'msgget(0x12345, IPC_CREAT|0666) = 0'
    run ! grep -qE -- "$expect" <<< 'msgget(0x12345, 0666|IPC_CREAT) = 0'
}

@test "a listener on port 5678 at any address leaves the network tests not judged" {
    practice start server > /dev/null
    perl -MIO::Socket::INET -e '
        my $s = IO::Socket::INET->new(LocalAddr => "0.0.0.0:5678", Listen => 1, ReuseAddr => 1)
            or die "listen: $!\n";
        sleep 120' 3>&- &
    listener=$!
    wait_until 'ss -Hltn "( sport = :5678 )" | grep -q .' 10
    run practice check server
    stop_pid "$listener"
    [ "$status" -eq 2 ]
    assert_line "Not judged: server"
    assert_line --partial "port 5678 is in use"
}

@test "the proof refuses a name the runner cannot use, and an exercise without its hints" {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir"
    cp "$ROOT"/exercises/*-samples.patch "$set_dir/1-give up.patch"
    grep -v '^Hint: The format' "$ROOT"/exercises/*-samples.patch | grep -v '^Hint: A line of text' \
        > "$set_dir/2-hintless.patch"
    SYSZOO_EXERCISES=$set_dir run practice prove
    assert_failure 1
    assert_line --regexp '^FAILED 1-give up.patch +a name of letters, digits and dashes only'
    assert_line --regexp '^FAILED hintless +a learner needs a Symptom and two or three Hints \(1 given\)$'
    SYSZOO_EXERCISES=$set_dir run --separate-stderr practice list
    assert_success
    refute_output --partial "give"
    [ "$stderr" = "practice: 1-give up.patch: skipped, a name of letters, digits and dashes only, as in 1-my-fault.patch" ]
}

# Write C++ program text $2 as samples/test.cpp of copy $1: the samples exercise's own file.
write_test_program() {
    printf '%s\n' "$2" > "$1/samples/test.cpp"
}

@test "the verdict is the test runner's: a program that writes results to its descriptors and kills its group does not pass" {
    practice start samples > /dev/null
    # Still broken (no newline), it writes passes where the runner's results go, then stops the runner.
    write_test_program "$area/samples/src" '#include <csignal>
#include <cstdio>
#include <unistd.h>
int main()
{
    for (int fd = 3; fd < 64; fd++)
        dprintf(fd, "ok 1 oldstyle prints 2\nok 2 test prints the symbol'\''s name\nok 3 blank prints nothing and exits 0\n");
    kill(0, SIGKILL);
    printf("HAVE_MMAP");
}'
    run practice check samples
    assert_failure 1
    refute_line "Passed: samples"
    assert_line --partial "FAILED  test prints the symbol's name"
    assert_line --partial "the test runner was killed by signal 9"
    refute_output --partial "timeout"
    refute_output --partial "SYSZOO_BIN="
}

@test "the judged program cannot tell it is judged: the test runner's variables are not in its environment" {
    practice start samples > /dev/null
    # Still broken, unless it sees the test runner's variables or the settings it gives the tests.
    write_test_program "$area/samples/src" '#include <cstdio>
#include <cstdlib>
int main()
{
    const bool judged = getenv("BATS_TEST_NAME") != nullptr || getenv("SYSZOO_BIN") != nullptr;
    printf(judged ? "HAVE_MMAP\n" : "HAVE_MMAP");
    return fflush(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}'
    run practice check samples
    assert_failure 1
    assert_line --partial "FAILED  test prints the symbol's name"
}

# The text of a program that prints with statement $1, and leaves a daemon (two forks, a session
# of its own, the standard descriptors on /dev/null) that makes the file "late" in the test's
# folder 20 seconds later.
daemon_program() {
    printf '%s\n' '#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
int main()
{
    if (fork() == 0) {
        setsid();
        if (fork() == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            sleep(20);
            if (FILE *late = fopen("'"$BATS_TEST_TMPDIR"'/late", "a"))
                fclose(late);
        }
        _exit(0);
    }
    '"$1"';
}'
}

@test "nothing a judged program starts outlives its test: a daemon it leaves behind is ended" {
    practice start samples > /dev/null
    write_test_program "$area/samples/src" "$(daemon_program 'printf("HAVE_MMAP")')" # still broken
    mark=practice-daemon-$$
    SYSZOO_MARK=$mark run practice check samples
    assert_failure 1
    assert_line --partial "FAILED  test prints the symbol's name"
    [ -z "$(marked_processes "$mark")" ]
}

# Start exercise "traced" of a set of its own: the samples exercise with a kernel check of the
# test program's line.
start_traced() {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir"
    local file
    file=$(echo "$ROOT"/exercises/*-samples.patch)
    { sed '/^Hint: The format/q' "$file"
        # shellcheck disable=SC2016 # $BIN is the kernel check's
        printf '%s\n' 'Kernel-run: "$BIN/test"' 'Kernel-calls: write' 'Kernel-expect: ^write\(1, "HAVE_MMAP' \
            'Kernel-says: the line is written'
        sed '1,/^Hint: The format/d' "$file"; } > "$set_dir/1-traced.patch"
    export SYSZOO_EXERCISES=$set_dir
    practice start traced > /dev/null
}

@test "the kernel check ends what the program leaves running instead of waiting for it" {
    judge_can_trace || skip "strace cannot follow a command here: no kernel check"
    start_traced
    write_test_program "$area"/set.*/traced/src "$(daemon_program 'printf("HAVE_MMAP\n")')" # mended
    mark=practice-daemon-$$
    SYSZOO_MARK=$mark practice check traced > "$BATS_TEST_TMPDIR/check" 2>&1 &
    checker=$!
    status=0
    wait_bounded "$checker" 200 || status=$?
    checker=
    [ "$status" -eq 0 ]
    grep -q "passed  what the kernel saw: the line is written" "$BATS_TEST_TMPDIR/check"
    [ -z "$(marked_processes "$mark")" ]
    [ ! -e "$BATS_TEST_TMPDIR/late" ] # the daemon's, had the check waited for it
}

@test "a strace that runs the command but cannot follow it leaves the check not judged, not failed" {
    start_traced
    cp "$ROOT/samples/test.cpp" "$area"/set.*/traced/src/samples/test.cpp # mended
    # As strace -D does where it may not attach: the command runs, status 0, an empty trace.
    mkdir "$BATS_TEST_TMPDIR/tools"
    printf '%s\n' '#!/bin/sh' 'while [ $# -gt 0 ]; do' '    case $1 in' \
        '        -o) : > "$2"; shift 2 ;;' '        -e) shift 2 ;;' '        --) shift; break ;;' \
        '        -*) shift ;;' '        *) break ;;' '    esac' 'done' 'echo "strace: attach: ptrace(PTRACE_SEIZE, 1): Operation not permitted" >&2' \
        'exec "$@"' > "$BATS_TEST_TMPDIR/tools/strace"
    chmod +x "$BATS_TEST_TMPDIR/tools/strace"
    PATH=$BATS_TEST_TMPDIR/tools:$PATH run practice check traced
    assert_failure 2
    assert_line --partial "Not judged: traced: the tests pass, but what the kernel saw cannot be checked: strace cannot trace here"
    run ! grep -q FAILED <<< "$output"
}

# CXX: a compiler that takes minutes on a copy's own sources (not on those with which the
# configure step tries it), so that a stop comes while it compiles. As a compiler does, it has a
# temporary file meanwhile, which it removes when it is stopped by TERM (not by KILL), here slowly.
slow_compiler() {
    mkdir -p "$BATS_TEST_TMPDIR/slow"
    printf '%s\n' '#!/bin/sh' 'case "$*" in *" -c "*/src/*|*" -c "*/judged/*)' \
        '    part=$(mktemp) || exit 1' "    trap 'sleep 1; rm -f \"\$part\"; exit 143' TERM" '    sleep 97 &' \
        '    wait $! ;;' 'esac' "exec $(command -v c++) \"\$@\"" > "$BATS_TEST_TMPDIR/slow/c++"
    chmod +x "$BATS_TEST_TMPDIR/slow/c++"
    export CXX=$BATS_TEST_TMPDIR/slow/c++
}

# True when a process marked $mark runs command line $1 (each word followed by a space).
marked_running() {
    local pid
    for pid in $(marked_processes "$mark"); do
        [ "$({ tr '\0' ' ' < "/proc/$pid/cmdline"; } 2> /dev/null)" = "$1" ] && return 0
    done
    return 1
}

# True when the slow compiler of a process marked $mark waits.
compiling() {
    marked_running "sleep 97 "
}

@test "a check that is stopped ends the test under way, and the program it runs" {
    practice start samples > /dev/null
    write_test_program "$area/samples/src" '#include <unistd.h>
int main()
{
    pause();
}'
    mark=practice-stopped-$$
    # The runner itself (not a shell around it) in the background, with a limit of ten minutes:
    # what ends the test is the stop, not the limit.
    SYSZOO_MARK=$mark SYSZOO_TEST_LIMIT=600 "$ROOT/practice" --no-install check samples \
        > "$BATS_TEST_TMPDIR/check" 2>&1 3>&- &
    checker=$!
    program_runs() {
        local pid
        for pid in $(marked_processes "$mark"); do
            [ "$(readlink "/proc/$pid/exe")" = "$area/samples/build/bin/test" ] && return 0
        done
        return 1
    }
    wait_until program_runs 60
    kill -TERM "$checker"
    status=0
    wait_bounded "$checker" 20 || status=$?
    checker=
    [ "$status" -eq 143 ]
    wait_until '[ -z "$(marked_processes "$mark")" ]' 15
}

@test "a check stopped while it builds, by TERM, Ctrl-C or a hang-up, ends the build at once and leaves nothing" {
    practice start samples > /dev/null
    slow_compiler
    mark=practice-stopped-build-$$
    mkdir "$BATS_TEST_TMPDIR/tmp"
    local signal
    for signal in TERM INT HUP; do
        # As at a terminal: in a process group of its own, which Ctrl-C (and the shell, when the
        # terminal hangs up) signals whole, and with SIGINT not ignored, as it is for a command
        # this shell starts in the background.
        SYSZOO_MARK=$mark TMPDIR=$BATS_TEST_TMPDIR/tmp perl -e '$SIG{INT} = "DEFAULT"; exec { $ARGV[0] } @ARGV' \
            setsid "$ROOT/practice" --no-install check samples > "$BATS_TEST_TMPDIR/check" 2>&1 3>&- &
        checker=$!
        wait_until compiling 60
        if [ "$signal" = TERM ]; then kill -TERM "$checker"; else kill "-$signal" -- "-$checker"; fi
        status=0
        wait_bounded "$checker" 15 || status=$?
        checker=
        [ "$status" -eq $(( 128 + $(kill -l "$signal") )) ]
        [ -z "$(marked_processes "$mark")" ]
        [ -z "$(ls -A "$BATS_TEST_TMPDIR/tmp")" ]
    done
}

@test "a judged program cannot write to the learner's terminal" {
    command -v script > /dev/null || skip "script (bsdutils) is needed for a pseudo-terminal"
    practice start samples > /dev/null
    # Still broken, it tells the terminal otherwise.
    write_test_program "$area/samples/src" '#include <cstdio>
int main()
{
    if (FILE *terminal = fopen("/dev/tty", "w")) {
        fputs("Passed: samples, says the program\n", terminal);
        fclose(terminal);
    }
    printf("HAVE_MMAP");
}'
    run script -qec "$(printf '%q ' "$ROOT/practice" --no-install check samples)" /dev/null < /dev/null
    assert_failure 1
    assert_output --partial "Not passed yet: samples"
    refute_output --partial "says the program"
}

@test "check builds the exercise's files with the runner's settings, every other file as shipped, and names the others" {
    practice start samples > /dev/null
    src=$area/samples/src
    # A mend with a warning, and the copy's warnings-as-errors block deleted: still an error.
    write_test_program "$src" '#include <cstdio>
int main()
{
    int unused;
    return printf("HAVE_MMAP\n") < 0;
}'
    sed -i '/CI builds must stay warning-free/,/^endif()/d' "$src/CMakeLists.txt"
    run practice check samples
    assert_failure 1
    assert_line --partial "The build failed"
    assert_line --regexp "^  $area/samples/src/samples/test.cpp:4:9: error: unused variable .unused."
    refute_line --partial "Building CXX object"
    assert_line "  CMakeLists.txt"

    # The program still broken; the copy's build file builds the shipped source instead, or a
    # shipped binary is put where the build leaves the program.
    cp "$ROOT/exercises/"*-samples.patch "$BATS_TEST_TMPDIR/fault.patch"
    cp "$ROOT/samples/test.cpp" "$src/samples/test.cpp"
    (cd "$src" && sed -n '/^Wrong:/q; /^--- a/,$p' "$BATS_TEST_TMPDIR/fault.patch" | patch -s -p1)
    run practice check samples
    assert_failure 1
    sed -i "s#test.cpp#$ROOT/samples/test.cpp#" "$src/samples/CMakeLists.txt"
    cp "$SYSZOO_BIN/test" "$area/samples/build/bin/test"
    touch "$area/samples/build/bin/test"
    run practice check samples
    assert_failure 1
    assert_line --partial "FAILED  test prints the symbol's name"
    assert_line "  samples/CMakeLists.txt"
    run practice report
    assert_line --regexp '^samples +started .*changed outside the exercise: CMakeLists.txt samples/CMakeLists.txt$'
}

@test "check links nothing built earlier in the copy's build folder: a library left there is made again" {
    practice start farewell > /dev/null
    mend_farewell "$area/farewell/src"
    run practice check farewell
    assert_success
    # An error library of other sources, newer than anything the build would make from the copy.
    build=$area/farewell/build
    sed '/^namespace {/i __attribute__((constructor)) static void planted() { printf("planted\\n"); }' \
        "$ROOT/common/error.cpp" > "$BATS_TEST_TMPDIR/error.cpp"
    g++ -std=c++20 -I "$ROOT/common" -c "$BATS_TEST_TMPDIR/error.cpp" -o "$BATS_TEST_TMPDIR/error.o"
    rm -f "$build/common/liberrlib.a"
    ar rcs "$build/common/liberrlib.a" "$BATS_TEST_TMPDIR/error.o"
    find "$build" -name '*.o' -exec touch -d tomorrow {} + -o -name '*.a' -exec touch -d tomorrow {} +
    run practice check farewell
    assert_success
    assert_line "Passed: farewell"
}

@test "a program that hangs: each result is shown as it comes, and the test is stopped at its limit and named" {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir"
    # The test of the hanging program last, so that the others' results can be seen meanwhile.
    grep -v '^Test: test prints' "$ROOT"/exercises/*-samples.patch |
        sed "s/^Test: blank prints.*/&\nTest: test prints the symbol's name/" > "$set_dir/1-hang.patch"
    export SYSZOO_EXERCISES=$set_dir SYSZOO_TEST_LIMIT=20
    practice start hang > /dev/null
    write_test_program "$area/set."*/hang/src '#include <unistd.h>
int main()
{
    pause();
}'
    practice check hang > "$BATS_TEST_TMPDIR/check" 2>&1 &
    checker=$!
    wait_until 'grep -q "passed  blank prints nothing" "$BATS_TEST_TMPDIR/check"' 60
    is_running "$checker" # the hanging test is still under way
    status=0
    wait_bounded "$checker" 60 || status=$?
    [ "$status" -eq 1 ]
    grep -q "TIMEOUT test prints the symbol's name" "$BATS_TEST_TMPDIR/check"
    grep -qF "\"test prints the symbol's name\" did not finish within 20 s" "$BATS_TEST_TMPDIR/check"
}

@test "a difference of invisible characters is shown; a pass stays in the report after a reset; skipping it is no error" {
    practice start samples > /dev/null
    write_test_program "$area/samples/src" '#include <cstdio>
int main()
{
    return printf("HAVE_MMAP\r\n") < 0;
}'
    run practice check samples
    assert_failure 1
    assert_line --partial 'HAVE_MMAP^M'
    cp "$ROOT/samples/test.cpp" "$area/samples/src/samples/test.cpp"
    run practice check samples
    assert_success
    run practice skip samples
    assert_success
    assert_line "samples is done already: nothing to skip."
    run practice reset samples <<< "y"
    assert_success
    run practice report
    assert_line --regexp '^samples +done +2 +0 +[0-9]+ +passed, then reset; now started$'
}

# Make teacher's set $1 of the samples exercise, with the changes of sed script $2, as file $3.
teacher_set() {
    mkdir -p "$1"
    sed "$2" "$ROOT"/exercises/*-samples.patch > "$1/$3"
}

@test "a teacher's file with a mistake is named with its line and what is wrong, and the rest of the set still works" {
    set_dir=$BATS_TEST_TMPDIR/set
    teacher_set "$set_dir" 's/^Programs: .*/Programs: oldstyle tset blank/' 1-misspelt.patch
    teacher_set "$set_dir" 's/^Test: /Tests: /' 2-plural.patch
    teacher_set "$set_dir" 's#^--- a/#--- #' 3-bare.patch
    teacher_set "$set_dir" 's/$/\r/' 4-crlf.patch
    teacher_set "$set_dir" 's/^Title: .*/Title: Good/; s/^\(Symptom: .*\)/\1\n  and the prompt follows./' 5-good.patch
    teacher_set "$set_dir" 's/^Title: .*/Title: Underscored/' 6-under_score.patch
    export SYSZOO_EXERCISES=$set_dir
    run --separate-stderr practice list
    assert_failure 1
    assert_output --regexp '^not-started +good +oldstyle test blank +Good$'
    [[ $stderr == *"practice: 1-misspelt.patch: Programs: there is no program named 'tset' (the programs: "*" test "*")"* ]]
    [[ $stderr == *"practice: 2-plural.patch line 4: no key 'Tests' (the keys: Title Programs Symptom Test "* ]]
    [[ $stderr == *"practice: 3-bare.patch line 11: a diff's old path starts with a/"* ]]
    [[ $stderr == *"practice: 4-crlf.patch line 1: a Windows line ending (CR LF)"* ]]
    [[ $stderr == *"practice: 6-under_score.patch: skipped, a name of letters, digits and dashes only"* ]]

    run practice start good
    assert_success
    assert_line --regexp '^What it shows: .* on the same line; .* and the prompt follows\.$'
    # every command suggested can be pasted: it names the set
    me="SYSZOO_EXERCISES=$(printf '%q' "$set_dir") ./practice"
    assert_line "Then: $me check good   (or $me watch; $me hint good for a hint)"
    run practice hint good
    assert_line "($me hint good again for the next one)"

    # A second file of the same name is never used; a patch that changes none of the named
    # programs' files judges them as shipped.
    teacher_set "$set_dir" 's/^Title: .*/Title: Good again/' 7-good.patch
    teacher_set "$set_dir" 's/^Programs: .*/Programs: charcopy/' 8-elsewhere.patch
    run --separate-stderr practice list
    [ "$(grep -c ' good ' <<< "$output")" -eq 1 ]
    [[ $stderr == *"practice: 7-good.patch: skipped, the name 'good' is 5-good.patch's too, which comes first"* ]]

    # The same said without a build, and without a work area.
    rm -rf "$area"
    run practice lint
    assert_failure 1
    assert_line --regexp '^FAILED 1-misspelt.patch: Programs: there is no program named .tset.'
    assert_line --regexp '^FAILED 2-plural.patch line 4: no key'
    assert_line --regexp '^ok +5-good.patch$'
    assert_line --regexp '^FAILED 6-under_score.patch: a name of letters, digits and dashes only'
    assert_line "FAILED 7-good.patch: the name 'good' is 5-good.patch's too, which comes first: this file is never used"
    assert_line "FAILED 8-elsewhere.patch line 2: Programs: the patch changes no file of charcopy (it changes samples/test.cpp)"
    run practice lint "$set_dir/5-good.patch"
    assert_success
    run practice lint "$set_dir/7-good.patch"
    assert_failure 1
    [ ! -e "$area" ]

    rm "$set_dir"/[1-578]-*.patch
    run --separate-stderr practice list
    [ "$status" -eq 2 ]
    [[ $stderr == *"no exercises in $set_dir "*"6-under_score.patch: skipped, a name of letters, digits and dashes only"* ]]
}

@test "the proof holds an exercise's wrong mends: each must fail a test by an assertion" {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir"
    # The samples exercise without wrong mends of its own, then two of the test's.
    { sed '/^Wrong:/,$d' "$ROOT"/exercises/*-samples.patch
        cat << 'EOF2'
Wrong: a carriage return before the newline
--- a/samples/test.cpp
+++ b/samples/test.cpp
@@ -8,5 +8,5 @@
 int main()
 {
-    printf("HAVE_MMAP\n");
+    printf("HAVE_MMAP\r\n");
     // Nothing goes to standard error, by design: a line that could not be written shows in the
     // status alone.
Wrong: a comment changed, the program as shipped
--- a/samples/blank.cpp
+++ b/samples/blank.cpp
@@ -1,4 +1,4 @@
-// blank: a program that does nothing: two locals set to 0, and a return.
+// blank: a program that does nothing at all: two locals set to 0, and a return.
 //
 // Run:   ./blank; echo $?
 // Watch: no output at all, and status 0.
EOF2
    } > "$set_dir/1-mends.patch"
    SYSZOO_EXERCISES=$set_dir run practice lint
    assert_success
    SYSZOO_EXERCISES=$set_dir run practice prove
    assert_failure 1
    assert_line --regexp '^FAILED mends +wrong mend 2 \(a comment changed, the program as shipped\) passes: no test failed by an assertion \(3 passed, 0 out of time\)$'
    # Without the mend that passes, proved; the one left is judged and fails.
    sed -i '/^Wrong: a comment changed/,$d' "$set_dir/1-mends.patch"
    SYSZOO_EXERCISES=$set_dir run --separate-stderr practice prove
    assert_success
    assert_output --regexp '^proved mends +broken: 1 of 3 tests failed in each of 3 runs; 1 wrong mends fail; shipped: all pass \([0-9]+s\)$'
    # Each stage said on standard error as it starts.
    [ "$stderr" = "proving mends: building the broken copy...
proving mends: the broken copy, runs 1 to 3, and the shipped program, side by side...
proving mends: wrong mend 1 of 1, building...
proving mends: wrong mend 1 of 1, judging..." ]
    # A start gives the fault alone, not a wrong mend.
    SYSZOO_EXERCISES=$set_dir run practice start mends
    assert_success
    run grep -F 'HAVE_MMAP\r' "$area"/set.*/mends/src/samples/test.cpp
    assert_failure 1
}

# The line number in file $2 of the first (or, with $3 "last", the last) line that holds $1.
line_of() {
    grep -nF -- "$1" "$2" | sed -n "$([ "${3:-}" = last ] && echo '$' || echo 1)s/:.*//p"
}

@test "the proof runs exercises side by side, one that shares the port or the queue key never beside another, verdicts in order" {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir"
    # both's tests use the port and the queue key: each of the others waits for it, and then
    # they run side by side, one using the port, the other the key.
    sed '/^Test: client and server end to end$/a Test: postbox creates the queue once and opens the same queue again' \
        "$ROOT"/exercises/*-client.patch > "$set_dir/1-both.patch"
    cp "$ROOT"/exercises/*-postbox.patch "$set_dir/2-queue.patch"
    cp "$ROOT"/exercises/*-client.patch "$set_dir/3-port.patch"
    SYSZOO_EXERCISES=$set_dir run --separate-stderr practice prove
    assert_success
    # The verdicts in the set's order, whichever proof ended first.
    [ "$(cut -d ' ' -f 2 <<< "$output")" = $'both\nqueue\nport' ]
    local stages=$BATS_TEST_TMPDIR/stages
    printf '%s\n' "$stderr" > "$stages"
    (( $(line_of "proving both:" "$stages" last) < $(line_of "proving queue:" "$stages") ))
    (( $(line_of "proving both:" "$stages" last) < $(line_of "proving port:" "$stages") ))
    [ "$(nproc)" -ge 2 ] || skip "one core: one exercise at a time"
    (( $(line_of "proving port:" "$stages") < $(line_of "proving queue:" "$stages" last) ))
}

# Start the proof of a set of two copies of shipped exercise $1 in the background (checker), its
# processes marked with $mark and its temporary files in $BATS_TEST_TMPDIR/tmp.
start_proof_of_two() {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir" "$BATS_TEST_TMPDIR/tmp"
    cp "$ROOT"/exercises/*-"$1".patch "$set_dir/1-first.patch"
    cp "$ROOT"/exercises/*-"$1".patch "$set_dir/2-second.patch"
    mark=practice-stopped-$1-$$
    SYSZOO_EXERCISES=$set_dir SYSZOO_MARK=$mark TMPDIR=$BATS_TEST_TMPDIR/tmp "$ROOT/practice" --no-install prove \
        > "$BATS_TEST_TMPDIR/prove" 2>&1 3>&- &
    checker=$!
}

# The stopped proof (checker) returns with status $1 within $2 seconds (30 by default). Once it has
# returned, nothing of it runs, and nothing of it (nor of its test runners) is left.
proof_ended() {
    status=0
    wait_bounded "$checker" "${2:-30}" || status=$?
    checker=
    [ "$status" -eq "$1" ]
    [ -z "$(marked_processes "$mark")" ]
    find "$BATS_TEST_TMPDIR/tmp" -mindepth 1 -maxdepth 2 -printf 'left: %p\n' >&2 # named, should anything be
    [ -z "$(ls -A "$BATS_TEST_TMPDIR/tmp")" ]
}

@test "a proof that is stopped ends every exercise's runs under way and leaves no folder of its own" {
    [ "$(nproc)" -ge 2 ] || skip "one core: one exercise at a time"
    # interleave runs for seconds: two of its proofs have programs running at the same time.
    start_proof_of_two interleave
    # An interleave built in each proof's folder runs.
    both_run() {
        local pid folders=()
        for pid in $(marked_processes "$mark"); do
            [[ $(readlink "/proc/$pid/exe") == "$BATS_TEST_TMPDIR"/tmp/*/interleave ]] &&
                folders+=("$(dirname "$(dirname "$(readlink "/proc/$pid/exe")")")")
        done
        [ "$(printf '%s\n' "${folders[@]}" | sort -u | grep -c .)" -ge 2 ]
    }
    wait_until both_run 120
    kill -TERM "$checker"
    proof_ended 143
}

@test "a proof stopped while it builds, even by a second signal, ends the build at once and leaves nothing" {
    [ "$(nproc)" -ge 2 ] || skip "one core: one exercise at a time"
    slow_compiler
    start_proof_of_two samples
    wait_until compiling 60
    kill -TERM "$checker"
    sleep 0.2
    kill -TERM "$checker" 2> /dev/null || true
    proof_ended 143 15
}

@test "a proof that ends without its verdict is said to have failed, by name" {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir"
    cp "$ROOT"/exercises/*-interleave.patch "$set_dir/1-cut.patch"
    mark=practice-cut-$$
    SYSZOO_EXERCISES=$set_dir SYSZOO_MARK=$mark "$ROOT/practice" --no-install prove \
        > "$BATS_TEST_TMPDIR/prove" 2> /dev/null 3>&- &
    checker=$!
    # The exercise's job: the runner's child that writes the verdict (its own children may too).
    job() {
        local pid
        for pid in $(marked_processes "$mark"); do
            [[ $(readlink "/proc/$pid/fd/1" 2> /dev/null) == */verdict ]] &&
                [ "$(awk '/^PPid:/ { print $2 }' "/proc/$pid/status" 2> /dev/null)" = "$checker" ] &&
                { echo "$pid"; return 0; }
        done
        return 1
    }
    local pid
    wait_until 'pid=$(job)' 60
    kill -TERM "$pid"
    status=0
    wait_bounded "$checker" 30 || status=$?
    checker=
    [ "$status" -eq 1 ]
    [ "$(cat "$BATS_TEST_TMPDIR/prove")" = "$(printf 'FAILED %-20s %s' cut 'the proof ended without a verdict (status 143)')" ]
}

@test "a proof stopped in a kernel check, by TERM, by Ctrl-C or by a second signal as its cleanups begin, ends it at once and leaves nothing" {
    judge_can_trace || skip "strace cannot trace here"
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir" "$BATS_TEST_TMPDIR/tmp"
    # A kernel check that waits 25 s before the program runs.
    sed 's/^Kernel-run: /Kernel-run: sleep 25; /' "$ROOT"/exercises/*-client.patch > "$set_dir/1-slow.patch"
    mark=practice-kernel-stopped-$$
    # Read by every shell of the runner (BASH_ENV), for the second signal: the first time a shell
    # of ./practice or of one of its jobs sets signals aside (its cleanup's first command), a TERM
    # reaches it just before, as the runner's TERM can reach a job whose Ctrl-C trap has just
    # begun. Each shell that had it is noted, so that the test knows it came.
    cat > "$BATS_TEST_TMPDIR/second-signal.bash" << 'END'
[[ $0 == */practice ]] || return 0
trap() {
    if [ "$*" = " INT TERM HUP" ] && [ "${second_signal_sent:-}" != "$BASHPID" ]; then
        second_signal_sent=$BASHPID
        printf '%s\n' "$BASHPID" >> "$SECOND_SIGNAL_LOG"
        kill -TERM "$BASHPID"
        :
    fi
    builtin trap "$@"
}
END
    local stop second=()
    for stop in TERM INT second; do
        [ "$stop" != second ] ||
            second=(BASH_ENV="$BATS_TEST_TMPDIR/second-signal.bash" SECOND_SIGNAL_LOG="$BATS_TEST_TMPDIR/second-signal.log")
        # As at a terminal: in a process group of its own, which Ctrl-C signals whole, and with
        # SIGINT not ignored, as it is for a command this shell starts in the background.
        env "${second[@]}" SYSZOO_EXERCISES="$set_dir" SYSZOO_MARK="$mark" TMPDIR="$BATS_TEST_TMPDIR/tmp" \
            perl -e '$SIG{INT} = "DEFAULT"; exec { $ARGV[0] } @ARGV' setsid "$ROOT/practice" --no-install prove \
            > "$BATS_TEST_TMPDIR/prove" 2>&1 3>&- &
        checker=$!
        # The kernel check's run waits: its sleep runs (not a short one of a test's).
        wait_until 'marked_running "sleep 25 "' 120
        case $stop in
            TERM) kill -TERM "$checker"; proof_ended 143 10 ;;
            INT) kill -INT -- "-$checker"; proof_ended 130 10 ;;
            second) # Ctrl-C, and the TERM that comes second ends the runner: 143.
                kill -INT -- "-$checker"
                proof_ended 143 20
                # The runner and the proof's job had it, at least.
                [ "$(sort -u "$BATS_TEST_TMPDIR/second-signal.log" | grep -c .)" -ge 2 ] ;;
        esac
    done
}

@test "a proof stopped while it makes a temporary folder removes that folder too" {
    set_dir=$BATS_TEST_TMPDIR/set
    mkdir -p "$set_dir" "$BATS_TEST_TMPDIR/tmp"
    cp "$ROOT"/exercises/*-client.patch "$set_dir/1-client.patch"
    slow_mktemp folder
    mark=practice-making-$$
    PATH=$BATS_TEST_TMPDIR/slow:$PATH SYSZOO_EXERCISES=$set_dir SYSZOO_MARK=$mark TMPDIR=$BATS_TEST_TMPDIR/tmp \
        "$ROOT/practice" --no-install prove > "$BATS_TEST_TMPDIR/prove" 2>&1 3>&- &
    checker=$!
    wait_until '[ -e "$BATS_TEST_TMPDIR/making" ]' 60
    [ -n "$(ls -A "$BATS_TEST_TMPDIR/tmp")" ] # made: the stop comes after it
    kill -TERM "$checker"
    proof_ended 143 20
}
