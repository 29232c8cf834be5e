#!/usr/bin/env bats
# Black-box tests of postbox and postinfo on the message queue with key 0x12345.
# ctest: TIMEOUT 180 PRIVATE_IPC PRIVATE_NET message_queue_0x12345

load helper

setup() {
    command -v ipcrm > /dev/null || skip "ipcrm (util-linux) is not installed"
    claim_queue_key
}

teardown() {
    release_queue_key
}

# True when this is root with every user ID at hand, not root of a user namespace of one's own.
real_root() {
    [ "$(id -u)" -eq 0 ] && [ "$(awk '$1 == 0 { print $2, $3 }' /proc/self/uid_map)" = "0 4294967295" ]
}

# Create the queue as another program would: key 0x12345 with mode $1, as user $2 if given.
make_queue() {
    local create='defined msgget(0x12345, 01000 | oct($ARGV[0])) or die "msgget: $!\n"'
    if [ -n "${2:-}" ]; then
        setpriv --reuid="$2" --regid="$2" --clear-groups perl -e "$create" "$1"
    else
        perl -e "$create" "$1"
    fi
}

@test "postbox creates the queue once and opens the same queue again" {
    run --separate-stderr "$BIN/postbox"
    assert_success
    [ -z "$stderr" ]
    [[ $output =~ ^queue\ id:[0-9]+$ ]]
    first=$output

    run --separate-stderr "$BIN/postbox"
    assert_success
    assert_output "$first"
    cmp <(printf '%s\n' "$first") <("$BIN/postbox")
    [ "$(ipcs -q | grep -c '^0x00012345 ')" -eq 1 ]
}

@test "postbox and postinfo report output that cannot be written, and fail" {
    assert_reports_lost_output "$BIN/postbox"
    assert_reports_lost_output "$BIN/postinfo"
}

@test "postinfo prints a byte limit above the largest int as it is" {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    run "$BIN/postbox"
    assert_success
    # Raising the limit that far needs a privilege; the preloaded msgctl reports 3000000000.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    run --separate-stderr env LD_LIBRARY_PATH="$TOOLS" LD_PRELOAD=libmsgctl_limit.so "$BIN/postinfo"
    assert_success
    [ -z "$stderr" ]
    assert_line --index 4 "mode:666"
    assert_line --index 5 "size:3000000000"
}

@test "postinfo shows the caller as owner and creator, mode 666 and the byte limit" {
    run "$BIN/postbox"
    id=${output#queue id:}

    run --separate-stderr "$BIN/postinfo"
    assert_success
    [ -z "$stderr" ]
    limit=$(ipcs -q -i "$id" | awk -F= '/qbytes/ { for (i = 1; i <= NF; i++) if ($i ~ /qbytes$/) { split($(i + 1), v, " "); print v[1] } }')
    [ -n "$limit" ]
    # The exact bytes, the last newline too (run drops it).
    cmp <(printf 'uid:%d\ngid:%d\ncuid:%d\ncgid:%d\nmode:666\nsize:%d\n' \
        "$(id -u)" "$(id -g)" "$(id -u)" "$(id -g)" "$limit") <("$BIN/postinfo")
}

@test "postinfo without a queue prints no record and fails" {
    run --separate-stderr "$BIN/postinfo"
    assert_failure 1
    assert_output ''
    [ "$stderr" = "msgget: No such file or directory" ]
}

@test "a queue that another owner made keeps its owner and permissions when postbox opens it" {
    command -v perl > /dev/null || skip "perl is needed to create a queue with other permissions"
    if real_root; then
        owner=65534
        make_queue 0640 "$owner"
    else
        owner=$(id -u)
        make_queue 0644
    fi
    run "$BIN/postbox"
    assert_success
    run "$BIN/postinfo"
    assert_success
    assert_line --index 0 "uid:$owner"
    assert_line --index 2 "cuid:$owner"
    assert_line --index 4 "mode:$([ "$owner" -eq 65534 ] && echo 640 || echo 644)"
}

@test "postbox without access to the queue prints id -1 and fails" {
    command -v perl > /dev/null || skip "perl is needed to create a queue with other permissions"
    real_root || skip "needs root to run postbox as another user: it would check that postbox without access to the queue prints id -1 and fails"
    make_queue 0600
    run --separate-stderr setpriv --reuid=65534 --regid=65534 --clear-groups "$BIN/postbox"
    assert_failure 1
    assert_output "queue id:-1"
    [ "$stderr" = "msgget: Permission denied" ]
}

@test "postinfo tells the owner from the creator" {
    command -v perl > /dev/null || skip "perl is needed to change a queue's owner"
    real_root || skip "needs root to give a queue another owner: it would check uid apart from cuid"
    run "$BIN/postbox"
    assert_success
    # The owner becomes nobody; the creator stays root.
    perl -e 'use IPC::Msg;
             my $q = IPC::Msg->new(0x12345, 0) or die "msgget: $!\n";
             $q->set(uid => 65534, gid => 65534) or die "msgctl: $!\n"'
    run --separate-stderr "$BIN/postinfo"
    assert_success
    [ "${lines[0]}" = "uid:65534" ]
    [ "${lines[1]}" = "gid:65534" ]
    [ "${lines[2]}" = "cuid:0" ]
    [ "${lines[3]}" = "cgid:0" ]
}

@test "postinfo reports a status request that fails on an existing queue, and prints no record" {
    need_fault_injection
    make_queue 666
    # msgget finds the queue; the request for its status (msgctl) fails.
    assert_fault_ends_it msgctl:error=EACCES:when=1 "msgctl: Permission denied" "$BIN/postinfo"
}
