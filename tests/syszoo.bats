#!/usr/bin/env bats
# The collection as installed (cmake --install into a folder of the test's, as the Debian package
# does into /usr): the syszoo command, and the tour run from the installed copy.
# ctest: TIMEOUT 300

load helper

setup_file() {
    export PREFIX=$BATS_FILE_TMPDIR/usr
    cmake --install "$BIN/.." --prefix "$PREFIX" > "$BATS_FILE_TMPDIR/install.log" 2>&1 ||
        { cat "$BATS_FILE_TMPDIR/install.log" >&2; return 1; }
}

setup() {
    syszoo=$PREFIX/bin/syszoo
    libexec=$PREFIX/libexec/syszoo
    # The tour's temporary folder, to see what it leaves there.
    export TMPDIR=$BATS_TEST_TMPDIR/tmp
    mkdir -p "$TMPDIR"
}

@test "list names every program of the build, in order; path and --version come from the build-info file" {
    run "$syszoo" list
    assert_success
    [ "$(awk '{ print $1 }' <<< "$output")" = "$(built_programs)" ]
    run "$syszoo" path
    assert_output "$libexec"
    run "$syszoo" --version
    assert_output "syszoo $(awk -F '\t' '$1 == "version" { print $2 }' "$BUILD_INFO")"
    for name in $(built_programs); do [ -x "$libexec/$name" ]; done
}

@test "run passes the arguments, the exit status and the program's name as argv[0]" {
    run "$syszoo" run shellrun 'echo through; exit 3'
    assert_success # shellrun's own status: system() worked
    assert_output through
    run --separate-stderr bash -c "head -c 100000 /dev/zero | '$syszoo' run spill > /dev/full"
    assert_failure 1
    [[ $stderr == *"write error: No space left on device" ]]
    "$syszoo" run catcher > /dev/null 3>&- &
    local pid=$!
    wait_until '[ "$(readlink "/proc/$pid/exe")" = "$libexec/catcher" ]' 5
    local name
    name=$(tr '\0' '\n' < "/proc/$pid/cmdline" | head -n 1)
    kill -TERM "$pid"
    wait "$pid" || true
    [ "$name" = catcher ]
}

@test "run and source refuse what is not a program's name, with status 2" {
    for name in nosuch ../../bin/sh /bin/sh ''; do
        run --separate-stderr "$syszoo" run "$name"
        assert_failure 2
        [[ $stderr == "syszoo: "*"(syszoo list shows them)" ]]
        run --separate-stderr "$syszoo" source "$name"
        assert_failure 2
    done
    run --separate-stderr "$syszoo" frobnicate
    assert_failure 2
    [ "$stderr" = "syszoo: unknown command 'frobnicate' (syszoo --help shows them)" ]
    run --separate-stderr "$syszoo"
    assert_failure 2
    [[ $stderr == *"syszoo run NAME [ARG...]"* ]]
}

@test "source prints the program's source as installed" {
    run "$syszoo" source spill
    assert_success
    cmp <("$syszoo" source spill) "$ROOT/$(program_field spill 4)"
    cmp <("$syszoo" source spill) "$PREFIX/share/syszoo/$(program_field spill 4)"
}

@test "the installed tour shows the installed programs and sources by full name, works in TMPDIR, leaves nothing" {
    local before
    before=$(cd "$PREFIX" && find . -printf '%p %s %T@\n' | sort)
    cd "$BATS_TEST_TMPDIR"
    run --separate-stderr env NO_COLOR=1 "$syszoo" tour farewell spill
    assert_success
    assert_line "\$ $libexec/farewell"
    assert_line --regexp "^\\\$ $libexec/spill < \"\\\$block\" 2> "
    assert_line --regexp "^Source: $PREFIX/share/syszoo/fileio/spill.cpp: "
    assert_line 'End of the tour.'
    [ -z "$(ls -A "$TMPDIR")" ]
    [ "$(cd "$PREFIX" && find . -printf '%p %s %T@\n' | sort)" = "$before" ]
}

@test "the installed tour's help and messages name syszoo tour, and offer no installing" {
    run "$syszoo" tour --help
    assert_success
    assert_line --partial 'syszoo tour --syscalls'
    refute_output --partial './tour'
    refute_output --partial 'no-install'
    refute_output --partial 'Builds the default preset'
    run --separate-stderr "$syszoo" tour nosuchstop
    assert_failure 2
    [ "$stderr" = "tour: unknown stop 'nosuchstop' (syszoo tour --list shows them)" ]
}

@test "the installed tour runs no apt-get, even with a tool of a stop missing" {
    # Every command of this machine but ss (a net stop's), and an apt-get that notes its call.
    local dir=$BATS_TEST_TMPDIR/path calls=$BATS_TEST_TMPDIR/calls
    mkdir -p "$dir"
    ln -s -t "$dir" /usr/local/bin/* /usr/bin/* /bin/* 2> /dev/null || true
    rm -f "$dir/ss" "$dir/apt-get" "$dir/sudo"
    printf '#!/bin/sh\necho "$0 $*" >> "%s"\n' "$calls" > "$dir/apt-get"
    cp "$dir/apt-get" "$dir/sudo"
    chmod +x "$dir/apt-get" "$dir/sudo"
    run env PATH="$dir" NO_COLOR=1 "$syszoo" tour farewell
    assert_success
    assert_line "\$ $libexec/farewell"
    [ ! -e "$calls" ]
}

@test "the installed tour's page says it ran from the installed package, with its version" {
    run --separate-stderr "$syszoo" tour --html "$BATS_TEST_TMPDIR/page.html" blank
    assert_success
    local page version
    page=$(< "$BATS_TEST_TMPDIR/page.html")
    version=$(awk -F '\t' '$1 == "version" { print $2 }' "$BUILD_INFO")
    [[ $page == *"<code>syszoo tour --html $BATS_TEST_TMPDIR/page.html blank</code>"* ]]
    [[ $page == *"syszoo $version, run from the installed package (programs in $libexec, sources in $PREFIX/share/syszoo)"* ]]
    [ -z "$(ls -A "$TMPDIR")" ]
}
