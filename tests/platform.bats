#!/usr/bin/env bats
# What each build makes: which machine every program is built for, a request whose number
# follows the program's word size, and the i386 build on a kernel that cannot run 32-bit
# programs. SYSZOO_ARCH names the build: native (the default) or i386.
# ctest: TIMEOUT 300

load helper

ARCH=${SYSZOO_ARCH:-native}

# "ELF<bits> machine <number>" from the ELF header of file $1 (class byte 4, e_machine at
# byte 18, little-endian on the machines this runs on), or "not ELF".
elf_kind() {
    local -a b
    read -ra b <<< "$(od -An -tu1 -N20 "$1" 2> /dev/null | tr '\n' ' ')"
    if [[ ${#b[@]} -lt 20 || "${b[*]:0:4}" != "127 69 76 70" ]]; then
        echo "not ELF"
        return
    fi
    echo "ELF$(( b[4] * 32 )) machine $(( b[18] + 256 * b[19] ))"
}

# What program $1 must be in this build. The native machine is the one this shell runs on.
expected_kind() {
    if [ "$ARCH" = i386 ]; then
        # pairjoin is the collection's one x86-64 program (EM_X86_64 = 62); the rest are
        # 32-bit x86 (EM_386 = 3).
        [ "$1" = pairjoin ] && echo "ELF64 machine 62" || echo "ELF32 machine 3"
    else
        elf_kind "/proc/$$/exe"
    fi
}

@test "every program of the tour is built, each for the machine its build names" {
    local -a names
    mapfile -t names < <(built_programs)
    [ "${#names[@]}" -gt 0 ]
    wrong=()
    for name in "${names[@]}"; do
        [ -x "$BIN/$name" ] || { wrong+=("$name: missing"); continue; }
        kind=$(elf_kind "$BIN/$name")
        want=$(expected_kind "$name")
        [ "$kind" = "$want" ] || wrong+=("$name: $kind, not $want")
        # and the build-info file says so too
        recorded=$(program_field "$name" 5)
        case $kind in
            "ELF64 machine 62") [ "$recorded" = x86_64 ] ;;
            "ELF32 machine 3") [ "$recorded" = i386 ] ;;
            *) true ;;
        esac || wrong+=("$name: $kind, recorded as $recorded")
    done
    # Whatever else lands in bin/ is built for the same machine too.
    for path in "$BIN"/*; do
        name=${path##*/}
        kind=$(elf_kind "$path")
        want=$(expected_kind "$name")
        [ "$kind" = "$want" ] || wrong+=("$name: $kind, not $want")
    done
    printf '%s\n' "${wrong[@]}"
    [ "${#wrong[@]}" -eq 0 ]
}

@test "attrmark passes the attribute request whose size field is the program's long" {
    command -v strace > /dev/null || skip "strace is not installed"
    export ASAN_OPTIONS=detect_leaks=0 # LeakSanitizer cannot run under a tracer
    # The request encodes the size of a long: 4 bytes in a 32-bit program, 8 in a 64-bit one.
    # Direction write (1 << 30), size << 16, type 'f' << 8, number 2.
    kind=$(elf_kind "$BIN/attrmark")
    size=$(( ${kind:3:2} / 8 ))
    request=$(printf '%#x' $(( 1 << 30 | size << 16 | 0x66 << 8 | 2 )))
    [ "$ARCH" != i386 ] || [ "$request" = 0x40046602 ]

    file=$(mktemp "$BIN/../attrmark.XXXXXX") # the build tree's disk, as in fileio.bats
    log=$BATS_TEST_TMPDIR/strace
    # A filesystem that can read attributes knows the requests: there, "Inappropriate ioctl"
    # would mean a wrong request number, not a filesystem without attributes.
    readable=$(lsattr -d "$file" > /dev/null 2>&1 && echo yes || echo no)
    run --separate-stderr strace -qq -o "$log" -e trace=ioctl -e raw=ioctl "$BIN/attrmark" "$file"
    rm -f "$file"
    if [[ $stderr == "ioctl: Operation not supported" ||
          ($readable == no && $stderr == "ioctl: Inappropriate ioctl"*) ]]; then
        skip "the build tree's filesystem has no file attributes"
    fi
    cat "$log"
    assert_success
    assert_output $'SYNC flag set\nNODUMP flag set'
    grep -Eq "^ioctl\(0x[0-9a-f]+, $request, 0x[0-9a-f]+\) += 0$" "$log"
}

@test "on a kernel that cannot run 32-bit programs, the i386 build skips every test and says why" {
    [ "$(uname -m)" = x86_64 ] || skip "the i386 build needs an x86-64 machine"
    command -v cmake > /dev/null || skip "cmake is not installed"
    # A file the kernel refuses with "Exec format error", as such a kernel refuses any 32-bit
    # program, stands in for the configure step's 32-bit test program.
    refused=$BATS_TEST_TMPDIR/refused
    printf '\177ELF' > "$refused"
    chmod +x "$refused"
    tree=$BATS_TEST_TMPDIR/build
    run cmake -S "$ROOT" -B "$tree" -DSYSZOO_ARCH=i386 -DSYSZOO_I386_PROBE="$refused"
    assert_success
    assert_output --partial "this kernel cannot run 32-bit x86 programs (Exec format error)"

    run ctest --test-dir "$tree" --no-tests=error
    assert_success
    why="i386: this kernel cannot run 32-bit x86 programs (Exec format error), so every i386 test is skipped"
    [ "$(grep -c "^$why\$" <<< "$output")" -eq 1 ]
    total=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#' <<< "$output")
    skipped=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' <<< "$output")
    [ "$total" -ge 10 ]
    [ "$skipped" -eq "$total" ]
}
