#!/usr/bin/env bats
# Black-box tests of server and client on 127.0.0.1:5678.
#
# The server's standard output is block-buffered unless it is a terminal, so it runs on a
# pseudo-terminal (script) whose log is read while it runs; the log has "\r\n" line ends.
# ctest: TIMEOUT 300 PRIVATE_NET port_5678

load helper

setup() {
    log=$BATS_TEST_TMPDIR/server.log
    script_pid=
    server_pid=
    helper_pids=()
    LOAD=${SYSZOO_BENCH:-}/netload
}

teardown() {
    local p
    for p in "${helper_pids[@]}"; do stop_pid "$p"; done
    stop_server
}

# Start the server on a pseudo-terminal, with soft descriptor limit $1 if given (the hard one
# cannot be raised again) and after bash commands $2 if given, and wait for its "bind" line, or
# for bash condition $3 if given.
start_server() {
    local limit=${1:-} before=${2:-} ready=${3:-'grep -q "^bind: " "$log" 2> /dev/null'}
    script -qfec "${limit:+ulimit -Sn $limit; }${before:+$before; }exec '$BIN/server'" "$log" \
        < /dev/null > /dev/null 2>&1 3>&- &
    script_pid=$!
    wait_until "$ready" 10
    server_pid=$(pgrep -P "$script_pid")
}

# True when something listens on TCP port 5678.
listening() {
    ss -Hltn '( sport = :5678 )' | grep -q .
}

# The bash commands that make the server's monotonic clock stand still (tests/clock_stop.cpp):
# the listener it leaves out during a shortage is then watched again only when a connection
# closes, never because the retry time has come.
clock_stopped() {
    [ -n "$TOOLS" ] || skip "SYSZOO_TOOLS does not name the test helpers"
    # By name, from the library path: LD_PRELOAD would split a folder name with a space in it.
    printf 'export ASAN_OPTIONS=%q LD_LIBRARY_PATH=%q LD_PRELOAD=libclock_stop.so' \
        "${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "$TOOLS"
}

# What descriptor $2 of process $1 is, and its access mode: "/dev/null 1" is /dev/null opened
# write-only, "/dev/null 0" read-only.
descriptor() {
    echo "$(readlink "/proc/$1/fd/$2") $(( 8#$(awk '/^flags:/ { print $2 }' "/proc/$1/fdinfo/$2") & 3 ))"
}

stop_server() {
    [ -n "$script_pid" ] || return 0
    stop_pid "$server_pid"
    wait_bounded "$script_pid" 5 2> /dev/null || true
    script_pid=
    server_pid=
}

# The server's output so far, without script's own first and last lines.
server_log() {
    tr -d '\r' < "$log" | grep -v '^Script \(started\|done\) on '
}

log_count() {
    server_log | grep -c -- "$1" || true
}

# The server's CPU time so far, in clock ticks (user + system).
cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

@test "client and server end to end" {
    start_server
    run --separate-stderr "$BIN/client"
    assert_success
    assert_output "error:Success"
    [ "$stderr" = "connect: Operation now in progress" ]

    wait_until '[ "$(log_count "connection closed$")" -eq 1 ]'
    run server_log
    assert_line --index 0 "bind: Success"
    assert_line --index 1 --regexp '^net connection from 127\.0\.0\.1:[0-9]+$'
    port=${lines[1]##*:}
    (( port >= 1 && port <= 65535 ))
    assert_line --index 2 "read:TCP TEST"
    assert_line --index 3 "connection closed"
    [ "${#lines[@]}" -eq 4 ]
}

@test "client sends exactly ten bytes, the last one zero, to another listener" {
    command -v ncat > /dev/null || skip "ncat is not installed"
    received=$BATS_TEST_TMPDIR/received
    ncat -l 127.0.0.1 5678 > "$received" < /dev/null 3>&- &
    helper_pids+=($!)
    wait_until 'ss -ltn | grep -q "127.0.0.1:5678 "' 10
    run "$BIN/client"
    assert_success
    wait_bounded "${helper_pids[0]}" 10
    [ "$(od -An -c "$received" | tr -s ' ')" = " T C P T E S T \n \0" ]

    # With its standard output closed, too: its "error:" line must not take the socket's way.
    ncat -l 127.0.0.1 5678 > "$received" < /dev/null 3>&- &
    helper_pids+=($!)
    wait_until 'ss -ltn | grep -q "127.0.0.1:5678 "' 10
    run --separate-stderr with_closed 1 "$BIN/client"
    assert_failure 1
    [ "$stderr" = $'connect: Operation now in progress\noutput error: Bad file descriptor' ]
    wait_bounded "${helper_pids[1]}" 10
    [ "$(od -An -c "$received" | tr -s ' ')" = " T C P T E S T \n \0" ]
}

@test "server reads in pieces of at most 256 bytes, and closes on end of stream or reset" {
    [ -x "$LOAD" ] || skip "netload is not built"
    start_server
    # The port in the connection line is the client's own, in host byte order. A port whose two
    # bytes are alike reads the same in either order: such a connection is closed unused, and
    # another made, so that the line tells the orders apart.
    local tries port unused
    for (( tries = 1; tries <= 5; tries++ )); do
        exec 5<> /dev/tcp/127.0.0.1/5678
        local_address=$(ss -Htn state established '( dport = :5678 )' | awk '{ print $3 }')
        port=${local_address##*:}
        (( port >> 8 != (port & 255) )) && break
        exec 5>&-
        wait_until "[ \"\$(log_count 'connection closed\$')\" -eq $tries ]"
    done
    unused=$(( tries - 1 ))
    wait_until '[ "$(log_count "^net connection from")" -eq $(( unused + 1 )) ]'
    [ "$(server_log | grep '^net connection from' | tail -n 1)" = "net connection from $local_address" ]
    printf '%0600d' 0 >&5
    exec 5>&-
    wait_until '[ "$(log_count "connection closed$")" -eq $(( unused + 1 )) ]'
    # No newline in the data: the pieces and the closing line share one line of output.
    data=$(server_log | grep 'connection closed$' | tail -n 1)
    data=${data%connection closed}
    [ "${data//read:/}" = "$(printf '%0600d' 0)" ]
    pieces=$(grep -o 'read:0*' <<< "$data" | awk '{ print length($0) - 5 }' | paste -sd' ')
    for n in $pieces; do [ "$n" -le 256 ]; done
    [ "$(wc -w <<< "$pieces")" -ge 3 ]

    exec 5<> /dev/tcp/127.0.0.1/5678 # connect, send nothing, close
    exec 5>&-
    wait_until '[ "$(log_count "connection closed$")" -eq $(( unused + 2 )) ]'

    run "$LOAD" reset 1
    assert_success
    wait_until '[ "$(log_count "connection closed$")" -eq $(( unused + 3 )) ]'
    [ "$(log_count '^net connection from 127.0.0.1:')" -eq $(( unused + 3 )) ]
    kill -0 "$server_pid"
}

@test "a second server reports the address in use and exits; no server refuses the client" {
    start_server
    run --separate-stderr "$BIN/server"
    assert_failure 1
    assert_output ''
    [ "$stderr" = "bind: Address already in use" ]
    stop_server

    run --separate-stderr "$BIN/client"
    assert_failure 1
    assert_output "error:Connection refused"
}

@test "server started with descriptor 0, 1 or 2 closed: /dev/null takes it, and it serves on" {
    # Input closed: the listener would take 0.
    start_server '' 'exec <&-'
    [ "$(descriptor "$server_pid" 0)" = "/dev/null 1" ] # write-only
    run "$BIN/client"
    assert_success
    wait_until '[ "$(log_count "^read:TCP TEST$")" -eq 1 ]'
    stop_server

    # Error closed: the listener would take 2, and the "bind" line written into it would end
    # the server (SIGPIPE) at once. The line is lost; the rest goes on as usual.
    log=$BATS_TEST_TMPDIR/server2.log
    start_server '' 'exec 2>&-' listening
    [ "$(descriptor "$server_pid" 2)" = "/dev/null 0" ] # read-only
    run "$BIN/client"
    assert_success
    wait_until '[ "$(log_count "connection closed$")" -eq 1 ]'
    run server_log
    assert_line --index 0 --regexp '^net connection from 127\.0\.0\.1:[0-9]+$'
    assert_line --index 1 "read:TCP TEST"
    assert_line --index 2 "connection closed"
    [ "${#lines[@]}" -eq 3 ]
    stop_server

    # Output closed: the listener would take 1, and the first buffer of output written into it
    # would end the server. 20,000 bytes of data make far more than a buffer of output.
    log=$BATS_TEST_TMPDIR/server3.log
    start_server '' 'exec >&-'
    [ "$(descriptor "$server_pid" 1)" = "/dev/null 0" ]
    exec 5<> /dev/tcp/127.0.0.1/5678
    printf '%020000d' 0 >&5
    exec 5>&-
    # Read to the end and closed by the server, or the server is gone. (The state filter leaves
    # out what earlier servers may have left waiting in TIME-WAIT.)
    wait_until '[ -z "$(ss -Htn state established state close-wait "( sport = :5678 )")" ]'
    is_running "$server_pid"
    run "$BIN/client"
    assert_success
    [ "$(server_log)" = "bind: Success" ]
    is_running "$server_pid"
}

@test "client with standard error closed: its connect line does not go down the connection" {
    start_server
    run --separate-stderr with_closed 2 "$BIN/client"
    assert_success
    assert_output "error:Success"
    wait_until '[ "$(log_count "connection closed$")" -eq 1 ]'
    run server_log
    assert_line --index 2 "read:TCP TEST"
    [ "${#lines[@]}" -eq 4 ]
}

@test "client with standard input, or all three, closed: /dev/null takes them, the socket is 3" {
    need_strace
    start_server
    run traced_calls socket,openat bash -c 'exec "$@" <&-' _ "$BIN/client"
    assert_line 'openat(AT_FDCWD, "/dev/null", O_WRONLY) = 0'
    assert_line --regexp '^socket\(AF_INET, SOCK_STREAM, .*\) = 3$'

    run traced_calls socket,openat bash -c 'exec "$@" <&- >&- 2>&-' _ "$BIN/client"
    assert_line 'openat(AT_FDCWD, "/dev/null", O_WRONLY) = 0'
    assert_line 'openat(AT_FDCWD, "/dev/null", O_RDONLY) = 1'
    assert_line 'openat(AT_FDCWD, "/dev/null", O_RDONLY) = 2'
    assert_line --regexp '^socket\(AF_INET, SOCK_STREAM, .*\) = 3$'
    # Only greetings reached the server.
    wait_until '[ "$(log_count "connection closed$")" -eq 2 ]'
    [ "$(log_count '^read:')" -eq 2 ]
    [ "$(log_count '^read:TCP TEST$')" -eq 2 ]
}

@test "client reports lost output, closed or full, with a server and without; the greeting goes" {
    start_server
    run --separate-stderr with_stdout /dev/full "$BIN/client"
    assert_failure 1
    [ "$stderr" = $'connect: Operation now in progress\noutput error: No space left on device' ]
    run --separate-stderr with_stdout - "$BIN/client"
    assert_failure 1
    [ "$stderr" = $'connect: Operation now in progress\noutput error: Bad file descriptor' ]
    wait_until '[ "$(log_count "connection closed$")" -eq 2 ]'
    [ "$(log_count '^read:')" -eq 2 ]
    [ "$(log_count '^read:TCP TEST$')" -eq 2 ]
    stop_server

    # Nothing listening: the socket must not have taken 1 (a write would end it with SIGPIPE).
    run --separate-stderr with_stdout - "$BIN/client"
    assert_failure 1
    [ "$stderr" = $'connect: Operation now in progress\noutput error: Bad file descriptor' ]
}

# Run a command with the network of a namespace of its own, where even loopback is down.
without_network() {
    if unshare --net true 2> /dev/null; then
        unshare --net "$@"
    else
        unshare --user --map-root-user --net "$@"
    fi
}

@test "a connect that fails at once is reported with its own error, and nothing is sent" {
    without_network true 2> /dev/null || skip "no network namespace can be made here: it would check a connect that fails at once"
    run --separate-stderr without_network "$BIN/client"
    assert_failure 1 # not 141: a write into the unconnected socket would die of SIGPIPE
    assert_output "error:Network is unreachable"
    [ "$stderr" = "connect: Network is unreachable" ]
    # Into a pipe too: the line must not be lost with the process.
    [ "$(without_network "$BIN/client" 2> /dev/null | cat)" = "error:Network is unreachable" ]
}

# The client with descriptors 3 to $1 - 1 taken, so that its socket is number $1.
client_with_socket_at() {
    bash -c 'ulimit -Sn 1200
        for (( fd = 3; fd < $1; fd++ )); do eval "exec $fd< /dev/null"; done
        exec "$2"' _ "$1" "$BIN/client"
}

@test "a client whose socket does not fit the descriptor set says so, before using the set" {
    [ "$(ulimit -Hn)" = unlimited ] || [ "$(ulimit -Hn)" -ge 1200 ] ||
        skip "needs a descriptor limit of 1200: it would check a socket numbered past the 1,024 of a set"
    run --separate-stderr client_with_socket_at 1101
    assert_failure 1
    assert_output ''
    [ "$stderr" = "socket: descriptor 1101 does not fit the descriptor set" ]

    # At the boundary: 1024 is the first number past the set, 1023 its last.
    run --separate-stderr client_with_socket_at 1024
    assert_failure 1
    assert_output ''
    [ "$stderr" = "socket: descriptor 1024 does not fit the descriptor set" ]

    run --separate-stderr client_with_socket_at 1023
    [[ $output == error:* ]] # the attempt was made and watched, whatever its outcome here
    [ "$stderr" = "connect: Operation now in progress" ]
}

@test "out of descriptors with no connection open, the server serves again once the limit rises" {
    command -v prlimit > /dev/null || skip "prlimit (util-linux) is not installed"
    start_server 4 # the standard streams and the listener: no descriptor left for a connection
    run "$BIN/client"
    assert_success
    wait_until '[ "$(log_count "^accept: Too many open files$")" -eq 1 ]' 5
    prlimit --pid "$server_pid" --nofile=64:
    # Within a few seconds, with no connection of its own closing to wake it.
    wait_until '[ "$(log_count "connection closed$")" -eq 1 ]' 5
    run server_log
    assert_line --index 0 "bind: Success"
    assert_line --index 1 "accept: Too many open files"
    assert_line --index 2 --regexp '^net connection from 127\.0\.0\.1:[0-9]+$'
    assert_line --index 3 "read:TCP TEST"
    assert_line --index 4 "connection closed"
    [ "${#lines[@]}" -eq 5 ]
}

@test "out of descriptors, a connection that closes lets a waiting client in, and a later shortage is reported" {
    command -v prlimit > /dev/null || skip "prlimit (util-linux) is not installed"
    # No retry time that ever comes: only a connection that closes can bring the listener back.
    start_server '' "$(clock_stopped)"
    # Room for exactly one connection: the lowest free descriptor (this shell's may be open).
    free=4
    while [ -e "/proc/$server_pid/fd/$free" ] && (( free < 1000 )); do free=$(( free + 1 )); done
    prlimit --pid "$server_pid" --nofile=$(( free + 1 )):
    exec 5<> /dev/tcp/127.0.0.1/5678
    wait_until '[ "$(log_count "^net connection from")" -eq 1 ]'
    run "$BIN/client" # queued, and sent, before the server can take it
    assert_success
    wait_until '[ "$(log_count "^accept: Too many open files$")" -eq 1 ]' 5
    exec 5>&-
    wait_until '[ "$(log_count "^read:TCP TEST$")" -eq 1 ]' 5
    wait_until '[ "$(log_count "connection closed$")" -eq 2 ]'

    # The accept ended that shortage: the next one is a shortage of its own, and reported.
    exec 5<> /dev/tcp/127.0.0.1/5678
    wait_until '[ "$(log_count "^net connection from")" -eq 3 ]'
    run "$BIN/client"
    assert_success
    wait_until '[ "$(log_count "^accept: Too many open files$")" -eq 2 ]' 5
    exec 5>&-
    wait_until '[ "$(log_count "^read:TCP TEST$")" -eq 2 ]' 5
    run server_log
    assert_line --index 0 "bind: Success"
    assert_line --index 2 "accept: Too many open files"
    assert_line --index 3 "connection closed"
    assert_line --index 8 "accept: Too many open files"
    assert_line --index 9 "connection closed"
}

@test "out of descriptors, a client that keeps sending cannot put off the retry" {
    command -v prlimit > /dev/null || skip "prlimit (util-linux) is not installed"
    start_server
    # Room for exactly one connection: the lowest free descriptor (this shell's may be open).
    free=4
    while [ -e "/proc/$server_pid/fd/$free" ] && (( free < 1000 )); do free=$(( free + 1 )); done
    prlimit --pid "$server_pid" --nofile=$(( free + 1 )):
    # One line every 0.2 s for 10 s at most: select never waits out a whole second.
    (
        exec 5<> /dev/tcp/127.0.0.1/5678
        for (( i = 0; i < 50; i++ )); do printf 'busy\n' >&5; sleep 0.2; done
    ) 3>&- &
    helper_pids+=($!)
    wait_until '[ "$(log_count "^read:busy$")" -ge 1 ]' 5
    run "$BIN/client"
    assert_success
    wait_until '[ "$(log_count "^accept: Too many open files$")" -eq 1 ]' 5
    prlimit --pid "$server_pid" --nofile=64:
    # Served about a second after the shortage began, while the busy client still sends.
    wait_until '[ "$(log_count "^read:TCP TEST$")" -eq 1 ]' 4
    is_running "${helper_pids[0]}"
}

@test "1,100 simultaneous connections: what does not fit the set is refused, the rest served" {
    [ -x "$LOAD" ] || skip "netload is not built"
    [ "$(ulimit -Hn)" = unlimited ] || [ "$(ulimit -Hn)" -ge 4096 ] ||
        skip "needs a hard descriptor limit of 4096: it would check 1,100 connections at once, those past the set refused (the next test checks the refusal with fewer)"
    start_server 4096
    run "$LOAD" hold 1100
    assert_success
    held=${output#held }
    held=${held%% of *}
    # At most every descriptor of the set but the standard streams and the listener.
    (( held >= 1000 && held <= 1020 ))
    wait_until '[ "$(log_count "connection closed$")" -eq "$held" ]' 20
    [ "$(log_count 'does not fit')" -eq $(( 1100 - held )) ]

    run "$BIN/client"
    assert_success
    wait_until '[ "$(log_count "^read:TCP TEST$")" -eq 1 ]'
    [ "$(log_count '^net connection from')" -eq $(( held + 1 )) ]
}

@test "a connection whose descriptor does not fit the set is refused, and the server goes on" {
    [ "$(ulimit -Hn)" = unlimited ] || [ "$(ulimit -Hn)" -ge 1100 ] ||
        skip "needs a hard descriptor limit of 1100: it would check that a connection numbered past the set is refused"
    # The server inherits descriptors 3 to 1019: the listener is 1020, connections 1021 to 1023
    # fit the set of 1,024, and the fifth connection gets 1024.
    # A loop of bash's: script runs it with $SHELL, which helper.bash makes bash.
    start_server 1100 'for (( fd = 3; fd < 1020; fd++ )); do eval "exec $fd< /dev/null"; done'
    for _ in 1 2 3 4; do exec {conn}<> /dev/tcp/127.0.0.1/5678; held+=("$conn"); done
    wait_until '[ "$(log_count "does not fit")" -eq 1 ]'
    [ "$(server_log | grep 'does not fit')" = "connection refused: descriptor 1024 does not fit the watched set" ]
    [ "$(log_count '^net connection from')" -eq 3 ]
    for conn in "${held[@]}"; do exec {conn}>&-; done
    wait_until '[ "$(log_count "connection closed$")" -eq 3 ]'
    run "$BIN/client"
    assert_success
    wait_until '[ "$(log_count "^read:TCP TEST$")" -eq 1 ]'
}

@test "out of descriptors: no spinning, no flood, and the waiting clients are served later" {
    [ -x "$LOAD" ] || skip "netload is not built"
    start_server 64
    "$LOAD" hold 55 3600 > /dev/null 3>&- &
    helper_pids+=($!)
    wait_until '[ "$(log_count "^net connection from")" -eq 55 ]' 30

    # 25 more: a few fit, the rest must wait for descriptors.
    "$LOAD" send 25 $'waited\n' > "$BATS_TEST_TMPDIR/send" 3>&- &
    send_pid=$!
    helper_pids+=("$send_pid")
    wait_until '[ "$(log_count "^accept: Too many open files$")" -ge 1 ]' 10
    before=$(cpu_ticks "$server_pid")
    sleep 2
    after=$(cpu_ticks "$server_pid")
    [ $(( after - before )) -le 20 ] # spinning would take about 200 ticks
    # One report per episode: a new one only after a connection has closed.
    reports=$(log_count "^accept: ")
    [ "$reports" -le $(( 1 + $(log_count "connection closed$") )) ]
    sleep 1
    [ "$(log_count "^accept: ")" -eq "$reports" ]

    stop_pid "${helper_pids[0]}" # the first 55 go away
    wait_bounded "$send_pid" 30
    # With SYN cookies the kernel may reset a client whose handshake met a full accept queue
    # (from 0 to 12 of the 25 in repeated runs); every other client must have been served, and
    # at least the 5 that had descriptors and the 6 that the accept queue (backlog 5) held.
    [[ $(cat "$BATS_TEST_TMPDIR/send") =~ ^sent\ 25\ of\ 25,\ closed\ by\ the\ listener\ ([0-9]+),\ reset\ ([0-9]+)$ ]]
    served=${BASH_REMATCH[1]}
    (( served >= 11 ))
    wait_until '[ "$(log_count "^read:waited$")" -eq "$served" ]' 10
    [ "$(log_count "^accept: ")" -le $(( 1 + $(log_count "connection closed$") )) ]
    kill -0 "$server_pid"
}

@test "server: a socket, listen or select that fails ends it with the call's error" {
    need_fault_injection
    assert_fault_ends_it socket:error=EACCES:when=1 "socket: Permission denied" "$BIN/server"

    assert_fault_ends_it listen:error=EADDRINUSE:when=1 \
        $'bind: Success\nlisten: Address already in use' \
        "$BIN/server"

    assert_fault_ends_it select,pselect6:error=ENOMEM:when=1 \
        $'bind: Success\nselect: Cannot allocate memory' \
        "$BIN/server"
}

@test "server reports an accept refused for another reason than a shortage, and serves on" {
    need_fault_injection
    # The first accept is refused; the connection stays queued and the second takes it. The
    # third select then fails, which ends the server with its output flushed.
    with_fault accept,accept4:error=EPERM:when=1 select,pselect6:error=ENOMEM:when=3 -- \
        "$BIN/server" > "$BATS_TEST_TMPDIR/out" 2> "$BATS_TEST_TMPDIR/err" &
    helper_pids+=($!)
    wait_until 'ss -ltn | grep -q "127.0.0.1:5678 "' 10
    run "$BIN/client"
    assert_success
    status=0
    wait_bounded "${helper_pids[0]}" 20 || status=$?
    [ "$status" -eq 1 ]
    [[ $(< "$BATS_TEST_TMPDIR/out") =~ ^"net connection from 127.0.0.1:"[0-9]+$ ]]
    [ "$(< "$BATS_TEST_TMPDIR/err")" = \
        $'bind: Success\naccept: Operation not permitted\nselect: Cannot allocate memory' ]
}

@test "client: a socket, select, getsockopt or send that fails ends it with the call's error" {
    need_fault_injection
    assert_fault_ends_it socket:error=EACCES:when=1 "socket: Permission denied" "$BIN/client"

    start_server
    assert_fault_ends_it select,pselect6:error=ENOMEM:when=1 \
        $'connect: Operation now in progress\nselect: Cannot allocate memory' \
        "$BIN/client"

    assert_fault_ends_it getsockopt:error=EINVAL:when=1 \
        $'connect: Operation now in progress\ngetsockopt: Invalid argument' \
        "$BIN/client"

    # The connection was made (its pending error was 0); only the greeting did not go out.
    run --separate-stderr with_fault send,sendto:error=ECONNRESET:when=1 -- "$BIN/client"
    assert_failure 1
    assert_output 'error:Success'
    [ "$stderr" = $'connect: Operation now in progress\nsend: Connection reset by peer' ]
    # Both streams into one file: the lines in the order they were printed.
    status=0
    with_fault send,sendto:error=ECONNRESET:when=1 -- "$BIN/client" > "$BATS_TEST_TMPDIR/both" 2>&1 ||
        status=$?
    [ "$status" -eq 1 ]
    [ "$(< "$BATS_TEST_TMPDIR/both")" = \
        $'connect: Operation now in progress\nerror:Success\nsend: Connection reset by peer' ]
}
