#!/usr/bin/env bats
# ./check and ./tour on a machine that lacks a tool they need: they name it with its package
# and the command that installs it, and start nothing else.
# ctest: TIMEOUT 120

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

setup() {
    calls=$BATS_TEST_TMPDIR/calls
    sudo=
    [ "$(id -u)" -eq 0 ] || sudo="sudo "
}

@test "check --no-install names the missing tool and the install command, exits 2, runs nothing" {
    dir=$(path_without shellcheck)
    run --separate-stderr env PATH="$dir" "$ROOT/check" --no-install
    assert_failure 2
    assert_output ''
    [ "$stderr" = "check: missing: shellcheck (shellcheck)
check: install them with: ${sudo}apt-get update && ${sudo}apt-get install -y --no-install-recommends shellcheck" ]
    [ ! -e "$calls" ] # neither apt-get nor cmake ran
}

@test "tour --no-install names missing cmake, exits 2, builds and runs nothing" {
    dir=$(path_without cmake)
    run --separate-stderr env -u SYSZOO_BIN PATH="$dir" "$ROOT/tour" --no-install farewell
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
