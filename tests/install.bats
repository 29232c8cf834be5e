#!/usr/bin/env bats
# ./check and ./tour on a machine that lacks a tool they need: they name it with its package
# and the command that installs it, and start nothing else.
# ctest: TIMEOUT 300

load helper

# A folder for PATH with every command of this machine but $1, and stand-ins for apt-get and
# sudo that only note their call (apt-get) or pass it on (sudo), and for cmake unless it is $1.
path_without() {
    local dir=$BATS_TEST_TMPDIR/path
    mkdir -p "$dir"
    # The first of two commands of one name wins, as on PATH; ln refuses the second.
    ln -s -t "$dir" /usr/local/bin/* /usr/bin/* /bin/* 2> /dev/null || true
    rm -f "$dir/$1" "$dir/apt-get" "$dir/sudo" "$dir/cmake"
    printf '#!/bin/sh\necho "apt-get $*" >> "%s"\n' "$calls" > "$dir/apt-get"
    printf '#!/bin/sh\necho "sudo $*" >> "%s"\nexec "$@"\n' "$calls" > "$dir/sudo"
    [ "$1" = cmake ] || printf '#!/bin/sh\necho "cmake $*" >> "%s"\n' "$calls" > "$dir/cmake"
    chmod +x "$dir"/apt-get "$dir"/sudo "$dir"/cmake 2> /dev/null || true
    echo "$dir"
}

teardown() {
    remove_nobody_folder
}

setup() {
    calls=$BATS_TEST_TMPDIR/calls
    sudo=
    [ "$(id -u)" -eq 0 ] || sudo="sudo "
}

@test "check --no-install names the missing tool and the install command, exits 2, runs nothing" {
    dir=$(path_without shellcheck)
    # (only the step that needs it: the tools of the others may be missing too, uninstalled yet)
    run --separate-stderr env PATH="$dir" "$ROOT/check" --no-install shellcheck
    assert_failure 2
    assert_output ''
    [ "$stderr" = "check: missing: shellcheck (shellcheck)
check: install them with: ${sudo}apt-get update && ${sudo}apt-get install -y --no-install-recommends shellcheck" ]
    [ ! -e "$calls" ] # neither apt-get nor cmake ran
}

@test "tour --no-install names missing cmake when it has to build, exits 2, builds and runs nothing" {
    dir=$(path_without cmake)
    # a checkout without a build
    checkout=$BATS_TEST_TMPDIR/checkout
    mkdir "$checkout"
    cp -R "$ROOT/tour" "$ROOT/tools" "$checkout"
    run --separate-stderr env -u SYSZOO_BIN -u SYSZOO_BUILD_INFO PATH="$dir" "$checkout/tour" --no-install farewell
    assert_failure 2
    assert_output ''
    [ "$stderr" = "tour: missing: cmake (cmake)
tour: install them with: ${sudo}apt-get update && ${sudo}apt-get install -y --no-install-recommends cmake" ]
    [ ! -e "$calls" ]
}

@test "without apt-get, check only names what is missing and exits 2" {
    dir=$(path_without shellcheck)
    rm "$dir/apt-get"
    run --separate-stderr env PATH="$dir" "$ROOT/check" shellcheck
    assert_failure 2
    assert_output ''
    [[ $stderr == *"check: missing: shellcheck (shellcheck)"* ]]
    [[ $stderr == *"install them with: "* ]]
    [ ! -e "$calls" ]
}

@test "check shows the install commands it runs, runs exactly those, and stops when they fail" {
    dir=$(path_without shellcheck)
    run --separate-stderr env PATH="$dir" "$ROOT/check" shellcheck
    assert_failure 1
    assert_output ''
    [ "$stderr" = "check: missing: shellcheck (shellcheck)
check: running: ${sudo}apt-get update
check: running: ${sudo}apt-get install -y --no-install-recommends shellcheck
check: still missing after installing: shellcheck (shellcheck)" ]
    expected="apt-get update
apt-get install -y --no-install-recommends shellcheck"
    [ -z "$sudo" ] || expected="sudo apt-get update
apt-get update
sudo apt-get install -y --no-install-recommends shellcheck
apt-get install -y --no-install-recommends shellcheck"
    [ "$(cat "$calls")" = "$expected" ] # and no cmake: nothing was built
}

@test "a Perl module counts as there only when it loads: the perl command alone is not enough" {
    dir=$(path_without perl)
    # perl-base's perl: the command is there, the message queue modules are not
    printf '#!/bin/sh\ncase "$1" in -M*) echo "Can'"'"'t locate module in @INC" >&2; exit 2 ;; esac\nexec /usr/bin/perl "$@"\n' \
        > "$dir/perl"
    chmod +x "$dir/perl"
    run --separate-stderr env PATH="$dir" "$ROOT/check" --no-install default
    assert_failure 2
    [[ $stderr == *"check: missing: "*"IPC::SysV (perl) IPC::Msg (perl)"* ]]
    [[ $stderr == *"apt-get install -y --no-install-recommends "*perl* ]]
    [ ! -e "$calls" ]
}

@test "a tool that two groups need counts for each of them" {
    dir=$(path_without pgrep) # pgrep: the tests' and the tour's
    run --separate-stderr env PATH="$dir" "$ROOT/check" --no-install default
    assert_failure 2
    [[ $stderr == *"check: missing: pgrep (procps)"* ]]
    run --separate-stderr env PATH="$dir" SYSZOO_BIN="$BIN" "$ROOT/tour" --no-install server
    assert_failure 2
    [[ $stderr == *"tour: missing: pgrep (procps)"* ]]
    [ ! -e "$calls" ]
}

@test "the tour needs cmake only to build, and a stop's tool only for that stop" {
    dir=$(path_without cmake)
    rm "$dir/ss"
    run --separate-stderr env PATH="$dir" SYSZOO_BIN="$BIN" "$ROOT/tour" --no-install farewell blank
    assert_success
    assert_line "second exit handler"
    assert_line "status 0"
    [ -z "$stderr" ]
    [ ! -e "$calls" ]
}

@test "where a stop's tool cannot be installed, that stop is skipped with a line saying what to install" {
    dir=$(path_without pgrep)
    rm "$dir/apt-get"
    run --separate-stderr env PATH="$dir" SYSZOO_BIN="$BIN" "$ROOT/tour" server blank
    assert_success
    assert_line "(skipped: this stop needs pgrep (Debian package procps), not installed here)"
    assert_line "status 0" # blank's stop ran
    [[ $stderr == *"tour: missing: pgrep (procps)"* ]]
}

@test "as a user without sudo, the advice is to install as root, not through sudo" {
    nobody_checkout
    dir=$(path_without shellcheck)
    rm "$dir/sudo" "$dir/pgrep"
    mv "$dir" "$nobody_tmp/path"
    dir=$nobody_tmp/path
    nobody=(as_nobody env PATH="$dir")
    run --separate-stderr "${nobody[@]}" "$nobody_root/check" --no-install shellcheck
    assert_failure 2
    [ "$stderr" = "check: missing: shellcheck (shellcheck)
check: install them as root with: apt-get update && apt-get install -y --no-install-recommends shellcheck" ]
    run --separate-stderr "${nobody[@]}" TMPDIR="$nobody_tmp/tmp" SYSZOO_BIN="$nobody_bin" "$nobody_root/tour" client
    assert_success
    [[ $stderr == *"tour: install them as root with: apt-get update && apt-get install -y --no-install-recommends procps"* ]]
    [[ $stderr != *sudo* ]]
    assert_line "(skipped: this stop needs pgrep (Debian package procps), not installed here)"
    [ ! -e "$calls" ]
}

@test "Ctrl-C stops the check, also in a step that catches it to clean up, and no later step runs" {
    # A checkout whose ./practice catches SIGINT as the real one does, and whose list of
    # packages is the build's only: the steps here are stand-ins.
    checkout=$BATS_TEST_TMPDIR/checkout
    mkdir -p "$checkout/tools"
    cp "$ROOT/check" "$checkout"
    cp "$ROOT/tools/packages.bash" "$checkout/tools"
    grep '^build ' "$ROOT/tools/packages.list" > "$checkout/tools/packages.list"
    printf '#!/bin/bash\ntrap "echo caught >> %s; exit 130" INT\necho practice >> %s\nsleep 30\n' \
        "$calls" "$calls" > "$checkout/practice"
    dir=$(path_without nothing)
    rm -f "$dir/clang-format" # a link to the machine's own, which must not be written through
    printf '#!/bin/sh\necho clang-format >> "%s"\n' "$calls" > "$dir/clang-format"
    chmod +x "$checkout/practice" "$dir/clang-format"
    # In a process group of its own, as a terminal's Ctrl-C signals one; with SIGINT handled as
    # a terminal's commands have it, not ignored as by a background command of a script.
    PATH=$dir perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "exec: $!\n"' \
        setsid "$checkout/check" practice format > "$BATS_TEST_TMPDIR/out" 2>&1 3>&- &
    pid=$!
    wait_until "grep -qx practice '$calls' 2> /dev/null" 10
    kill -INT -- "-$pid"
    status=0
    wait_bounded "$pid" 10 || status=$?
    [ "$status" -eq 130 ]
    [ "$(grep -v '^cmake ' "$calls")" = $'practice\ncaught' ]
    grep -qx 'check: interrupted during practice' "$BATS_TEST_TMPDIR/out"
}

@test "check names each test a workflow skipped, with its reason, and nothing from an earlier run" {
    checkout=$BATS_TEST_TMPDIR/checkout
    mkdir "$checkout"
    cp -R "$ROOT/check" "$ROOT/tools" "$checkout"
    # a cmake whose workflow writes CTest's log as a run with two skipped tests does
    fake=$BATS_TEST_TMPDIR/fake
    mkdir -p "$fake"
    cat > "$fake/cmake" << 'END'
#!/bin/sh
[ -n "${FAIL_EARLY:-}" ] && exit 1
mkdir -p build-tsan/Testing/Temporary
printf '%s\n' 'ok 1 traced # skip (strace is not installed (Debian package strace))' 'ok 2 plain' \
    'ok 3 as a user # skip (only root can run a command as another user here)' > build-tsan/Testing/Temporary/LastTest.log
END
    chmod +x "$fake/cmake"
    run --separate-stderr env PATH="$fake:$PATH" "$checkout/check" --no-install tsan
    assert_success
    assert_line "check: 2 tests of tsan were skipped:"
    assert_line "  traced # skip (strace is not installed (Debian package strace))"
    assert_line "  as a user # skip (only root can run a command as another user here)"
    refute_line --partial "plain"
    # a run that fails before its tests: the last run's log is not taken for its own
    run --separate-stderr env FAIL_EARLY=1 PATH="$fake:$PATH" "$checkout/check" --no-install tsan
    assert_failure
    refute_line --partial "skip"
}

@test "tour installs strace for the kernel's view, the timeline and the breaks, and only for them" {
    dir=$(path_without strace)
    local option
    for option in --syscalls --timeline --break; do
        run --separate-stderr env PATH="$dir" "$ROOT/tour" --no-install "$option" farewell
        assert_failure 2
        assert_output ''
        [ "$stderr" = "tour: missing: strace (strace)
tour: install them with: ${sudo}apt-get update && ${sudo}apt-get install -y --no-install-recommends strace" ]
    done
    # the plain tour does not need it
    run --separate-stderr env PATH="$dir" "$ROOT/tour" --no-install farewell
    assert_success
    [ -z "$stderr" ]
}
