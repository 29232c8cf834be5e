#!/usr/bin/env bats
# The exercise runner from the learner's side: the copies, their progress, hints, resets, watch
# and the report, on a few quick exercises (none that needs the network port). The judging and
# the proof are practice_judge.bats's.
# ctest: TIMEOUT 2400 COST 564 SCRIPT

load helper
load practice

setup() {
    practice_setup
}

teardown() {
    remove_nobody_folder
}

@test "a learner starts, fails, takes hints, mends, passes, and goes on; nothing lands in the checkout" {
    marker=$BATS_TEST_TMPDIR/marker
    touch "$marker"
    run practice start farewell
    assert_success
    assert_line "Mend it here:"
    assert_line "  $area/farewell/src/proc/farewell.cpp"
    assert_line "  $area/farewell/build/bin"
    assert_line --partial "What it shows: ./farewell prints"

    run practice check farewell
    assert_failure 1
    assert_line --partial "FAILED  farewell runs its exit handlers last registered first"
    assert_line "Not passed yet: farewell (./practice hint farewell for a hint)"

    run practice hint
    assert_success
    assert_line --index 0 --partial "Hint 1 of 3:"
    refute_line --partial "Hint 2 of 3:"
    run practice hint farewell
    assert_line --index 1 --partial "Hint 2 of 3:"

    # Answered no (or no answer at all): the answer stays hidden before the exercise passes.
    run practice show farewell < /dev/null
    assert_failure 1
    refute_output --partial "@@"

    # Deleting the behaviour is no mend: without the handlers the test fails.
    sed -i '/atexit/,/err_sys/d' "$area/farewell/src/proc/farewell.cpp"
    run practice check farewell
    assert_failure 1

    mend_farewell "$area/farewell/src"
    run practice check farewell
    assert_success
    assert_line "Passed: farewell"
    assert_line "Next: ./practice  (goes on with server)"

    run practice report
    assert_line --regexp '^farewell +done +3 +2 +[0-9]+$'
    # The checkout is as it was: everything went to the work area.
    [ -z "$(find "$ROOT" \( -path "$ROOT/build*" -o -path "$ROOT/.git" -o -path "$ROOT/Testing" \) -prune \
        -o -newer "$marker" -print)" ]
}

@test "a learner's edits are never lost: start again, the runner alone, a reset kept as a copy" {
    run practice start shellrun
    assert_success
    file=$area/shellrun/src/proc/shellrun.cpp
    echo "// my note" >> "$file"

    run practice start shellrun
    assert_success
    assert_line "Started before: your copy is as you left it."
    run practice # goes on with the exercise under way, and touches no other copy
    assert_success
    assert_line --regexp '^started +shellrun +shellrun '
    assert_line --regexp '^shellrun: '
    run practice hint
    assert_line --index 0 --partial "Hint 1 of 3: system returns"
    [ "$(tail -n 1 "$file")" = "// my note" ]

    # An edit outside the exercise's own file is an edit too.
    echo "// elsewhere" >> "$area/shellrun/src/proc/farewell.cpp"
    run practice reset shellrun <<< "n"
    assert_failure 1
    assert_line --partial "Nothing changed."
    [ "$(tail -n 1 "$file")" = "// my note" ]

    run practice reset shellrun <<< "y"
    assert_success
    [ "$(tail -n 1 "$file")" != "// my note" ]
    kept=("$area"/shellrun/saved/*/proc/shellrun.cpp)
    [ "${#kept[@]}" -eq 1 ]
    [ "$(tail -n 1 "${kept[0]}")" = "// my note" ]
    [ "$(tail -n 1 "${kept[0]%/shellrun.cpp}/farewell.cpp")" = "// elsewhere" ]

    # Without edits nothing is asked and nothing kept.
    run practice reset shellrun < /dev/null
    assert_success
    kept=("$area"/shellrun/saved/*)
    [ "${#kept[@]}" -eq 1 ]
}

@test "two exercises in progress at once keep their own copies, builds and states" {
    practice start farewell > /dev/null
    practice start samples > /dev/null

    run practice check samples
    assert_failure 1
    run practice check farewell # its own copy, still broken: samples' copy has it as shipped
    assert_failure 1
    mend_farewell "$area/farewell/src"
    run practice check farewell
    assert_success
    run practice check samples # still broken: farewell's mend is not samples'
    assert_failure 1

    cp "$ROOT/samples/test.cpp" "$area/samples/src/samples/test.cpp"
    run practice check samples
    assert_success
    run practice list
    assert_line --regexp '^done +farewell '
    assert_line --regexp '^done +samples '
    assert_line --regexp '^not-started +server '

    run practice skip server
    assert_success
    run practice list
    assert_line --regexp '^skipped +server '
    run practice # the first one neither done nor skipped
    assert_line --regexp '^client: '
}

# Make folder $1 (for PATH) of links to every command on PATH but those named $2...
path_without() {
    local path=$1 dir file dirs
    shift
    mkdir -p "$path"
    IFS=: read -r -a dirs <<< "$PATH"
    for dir in "${dirs[@]}"; do
        for file in "$dir"/*; do
            [ -e "$file" ] || continue # an empty folder's pattern, left as it is
            [[ " $* " == *" ${file##*/} "* ]] && continue
            [ -e "$path/${file##*/}" ] || ln -s "$file" "$path/${file##*/}"
        done
    done
}

@test "an exercise whose test needs a missing tool is not judged, and says why" {
    path_without "$BATS_TEST_TMPDIR/path" gdb
    practice start relay > /dev/null
    cp "$ROOT/gdb/CMakeLists.txt" "$area/relay/src/gdb/CMakeLists.txt" # even mended
    PATH=$BATS_TEST_TMPDIR/path run practice check relay
    [ "$status" -eq 2 ]
    assert_line "Not judged: relay"
    assert_line "  skipped \"relay under gdb: four frames, and every caller's ret is 10 after its call returns\": gdb is not installed"
    refute_line --partial "Passed"
    run practice report
    assert_line --regexp '^relay +started +1 +0 +[0-9]+$'
}

@test "with --no-install, a missing tool is named with its package, and nothing runs" {
    path_without "$BATS_TEST_TMPDIR/path" patch
    PATH=$BATS_TEST_TMPDIR/path run --separate-stderr practice start farewell
    [ "$status" -eq 2 ]
    assert_output ''
    [[ $stderr == *"practice: missing: patch (patch)"* ]]
    [ ! -e "$area" ]

    # A name that is no exercise's is said first: nothing is to be installed for it.
    rm -f "$BATS_TEST_TMPDIR/path/inotifywait"
    for command in watch check start; do
        PATH=$BATS_TEST_TMPDIR/path run --separate-stderr practice "$command" nosuch
        [ "$status" -eq 2 ]
        [ "$stderr" = "practice: no exercise or program named 'nosuch' (./practice list shows them)" ]
    done
}

@test "a learner with a read-only checkout works in a home of their own; without sudo, installs are for root" {
    nobody_checkout
    # The whole checkout, which nobody may read and not write.
    tar -C "$ROOT" --exclude=./.git --exclude='./build*' --exclude=./Testing -cf - . |
        tar -C "$nobody_root" -xf -
    chmod -R a-w,a+rX "$nobody_root"
    mkdir "$nobody_tmp/home"
    chown 65534:65534 "$nobody_tmp/home"
    learner=(as_nobody env HOME="$nobody_tmp/home" XDG_DATA_HOME= SYSZOO_BIN="$nobody_bin"
        SYSZOO_TOOLS= "$nobody_root/practice" --no-install)
    run "${learner[@]}" start farewell
    assert_success
    assert_line "  $nobody_tmp/home/.local/share/syszoo/practice/farewell/src/proc/farewell.cpp"
    mend_farewell "$nobody_tmp/home/.local/share/syszoo/practice/farewell/src"
    run "${learner[@]}" check farewell
    assert_success
    assert_line "Passed: farewell"

    path_without "$nobody_tmp/path" patch sudo
    run --separate-stderr as_nobody env PATH="$nobody_tmp/path" HOME="$nobody_tmp/home" \
        "$nobody_root/practice" --no-install list
    [ "$status" -eq 2 ]
    [ "$stderr" = "practice: missing: patch (patch)
practice: install them as root with: apt-get update && apt-get install -y --no-install-recommends patch" ]
}

@test "watch checks again when the file is saved by a rename, and ends when it passes" {
    command -v inotifywait > /dev/null || skip "inotifywait (inotify-tools) is not installed"
    practice start farewell > /dev/null
    practice watch > "$BATS_TEST_TMPDIR/watch" 2>&1 < /dev/null &
    watcher=$!
    wait_until 'grep -q "^Watching farewell" "$BATS_TEST_TMPDIR/watch"' 60
    # As an editor that writes a new file and renames it over the old one.
    file=$area/farewell/src/proc/farewell.cpp
    cp "$ROOT/proc/farewell.cpp" "$file.new"
    mv "$file.new" "$file"
    status=0
    wait_bounded "$watcher" 60 || status=$?
    [ "$status" -eq 0 ]
    grep -q "^Passed: farewell" "$BATS_TEST_TMPDIR/watch"
    [ "$(grep -c "^Checking farewell" "$BATS_TEST_TMPDIR/watch")" -eq 2 ]
}

@test "a teacher's exercise with a shipped exercise's name has its own copy and progress" {
    practice start farewell > /dev/null
    mend_farewell "$area/farewell/src"
    set_dir="$BATS_TEST_TMPDIR/lab 4"
    mkdir -p "$set_dir"
    # Another fault under the same name: the shipped farewell's mended copy must not judge it.
    sed 's/^Title: .*/Title: Farewell of the lab/' "$ROOT"/exercises/*-samples.patch > "$set_dir/1-farewell.patch"
    SYSZOO_EXERCISES=$set_dir run practice start farewell
    assert_success
    refute_line "Started before: your copy is as you left it."
    assert_line --partial "farewell: Farewell of the lab"
    SYSZOO_EXERCISES=$set_dir run practice check farewell
    assert_failure 1
    # The suggestion names the set, so that pasting it reaches the same exercise.
    assert_line "Not passed yet: farewell (SYSZOO_EXERCISES=$(printf '%q' "$set_dir") ./practice hint farewell for a hint)"
    run practice list
    assert_line --regexp '^started +farewell '
    cmp "$ROOT/proc/farewell.cpp" "$area/farewell/src/proc/farewell.cpp"
}

@test "a set folder with no exercises, or a mistyped one, says so and fails" {
    mkdir "$BATS_TEST_TMPDIR/empty"
    for set in "$BATS_TEST_TMPDIR/empty" "$BATS_TEST_TMPDIR/no such set"; do
        SYSZOO_EXERCISES=$set run --separate-stderr practice
        [ "$status" -eq 2 ]
        [ -z "$output" ]
        [[ $stderr == "practice: no exercises in $set "* ]]
    done
}

@test "without strace, the exercises without a kernel check work, and one with it names strace" {
    path_without "$BATS_TEST_TMPDIR/path" strace
    PATH=$BATS_TEST_TMPDIR/path run practice list
    assert_success
    assert_line --regexp '^not-started +farewell '
    PATH=$BATS_TEST_TMPDIR/path run practice hint farewell
    assert_success
    practice start postbox > /dev/null
    PATH=$BATS_TEST_TMPDIR/path run --separate-stderr practice check postbox
    [ "$status" -eq 2 ]
    [[ $stderr == *"practice: missing: strace (strace)"* ]]
}

@test "the report for a class: JUnit XML of one test case per exercise, and CSV, naming no path outside the work area" {
    command -v xmllint > /dev/null || skip "xmllint (libxml2-utils) is not installed"
    practice start farewell > /dev/null
    mend_farewell "$area/farewell/src"
    practice check farewell > /dev/null
    practice hint samples > /dev/null
    practice start samples > /dev/null
    echo "// mine" >> "$area/samples/src/README.md"
    run practice report --junit "$BATS_TEST_TMPDIR/report.xml" --csv "$BATS_TEST_TMPDIR/report.csv"
    assert_success
    xml=$BATS_TEST_TMPDIR/report.xml
    count=$(find "$ROOT/exercises" -maxdepth 1 -name '*.patch' | wc -l)
    xpath() { xmllint --xpath "$1" "$xml"; }
    [ "$(xpath 'count(/testsuites/testsuite/testcase)')" -eq "$count" ]
    [ "$(xpath 'string(/testsuites/testsuite/@tests)')" -eq "$count" ]
    [ "$(xpath 'string(/testsuites/testsuite/properties/property[@name="learner"]/@value)')" = "$(id -un)" ]
    [ "$(xpath 'string(//testcase[@name="farewell"]/properties/property[@name="state"]/@value)')" = "done" ]
    [ "$(xpath 'string(//testcase[@name="farewell"]/properties/property[@name="checks"]/@value)')" = 1 ]
    [ "$(xpath 'count(//testcase[@name="farewell"]/failure | //testcase[@name="farewell"]/skipped)')" -eq 0 ]
    [ "$(xpath 'string(//testcase[@name="samples"]/properties/property[@name="hints"]/@value)')" = 1 ]
    [ "$(xpath 'count(//testcase[@name="samples"]/failure)')" -eq 1 ]
    [ "$(xpath 'count(//testcase[@name="server"]/skipped)')" -eq 1 ]
    [ "$(xpath 'string(//testcase[@name="samples"]/properties/property[@name="note"]/@value)')" = \
        "changed outside the exercise: README.md" ]
    xpath 'string(//testcase[@name="farewell"]/@time)' | grep -qE '^[0-9]+$'
    csv=$BATS_TEST_TMPDIR/report.csv
    [ "$(head -n 1 "$csv")" = "exercise,state,checks,hints,seconds,note" ]
    [ "$(wc -l < "$csv")" -eq $(( count + 1 )) ]
    grep -qE '^farewell,done,1,0,[0-9]+,""$' "$csv"
    run grep -lF -e "$ROOT" -e "$BATS_TEST_TMPDIR" -e "$HOME/" "$xml" "$csv"
    assert_failure
}
