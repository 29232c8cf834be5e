# shellcheck shell=bash
# For the tour's net stops (server.tour, client.tour): the server on a terminal of its own, its
# lines marked [server], and the waits after which they are shown, in the order they happen.

server_job='' server_pid=''

# True while a socket listens on the tour's own address, 127.0.0.1:5678 (0100007F:162E in the
# kernel's table; state 0A is LISTEN). A listener elsewhere on the port is not the tour's to
# wait for: whether it keeps the tour's server out shows in that server's bind.
port_busy() {
    awk '$2 == "0100007F:162E" && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp 2> /dev/null
}

server_up() {
    launch_partner server "^bind: Success"
    server_job=$launched server_pid=$launched_program
    wait_for '[ "$(partner_lines server "^bind: ")" -ge 1 ]' 10 || {
        note "(the server did not start)"
        return 1
    }
    pass_partner_lines
    # Whether the port is the tour's is the bind's result: another program listening on port
    # 5678 at any address (0.0.0.0, ::) makes it fail, and that program must hear nothing.
    if [ "$(partner_lines server "^bind: Success")" -eq 0 ]; then
        wait_ended "$server_job" 5
        server_job='' server_pid=''
        note "(something else listens on TCP port 5678: stop it to see this stop)"
        return 1
    fi
}

# Wait (5 s at most) until the server has seen $1 connections close: its lines are shown by then.
server_settled() {
    # shellcheck disable=SC2034 # read by the condition, which wait_for evaluates
    local closed=$1
    wait_for '[ "$(partner_lines server "connection closed")" -ge "$closed" ]' 5
    pass_partner_lines
}

server_down() {
    [ -n "$server_pid" ] || return 0
    show_command "kill $server_pid"
    if [ "$tracing" -eq 1 ]; then # the kernel view's run: the timeline traces the kill as a partner
        traced_command "kill $server_pid"
        bash -c "$command" 2> /dev/null
    else
        kill "$server_pid" 2> /dev/null
    fi
    wait_ended "$server_job" 5
    pass_partner_lines
    server_job='' server_pid=''
    wait_for '! port_busy' 5
}
