# shellcheck shell=bash
# For the tour's net stops (server.tour, client.tour): the server on a terminal of its own, its
# lines marked [server], and the waits that keep them in the order they happen.

server_job='' server_pid=''

# True when the port is free for the tour's server; otherwise a note says why the stop ends.
net_ready() {
    if ss -ltn 2> /dev/null | grep -q '127.0.0.1:5678 '; then
        note "(something else listens on 127.0.0.1:5678: stop it to see this stop)"
        return 1
    fi
}

server_up() {
    launch_partner server "$(program server)"
    server_job=$launched server_pid=$launched_program
    wait_for '[ "$(partner_lines server "^bind: ")" -ge 1 ]' 10 || {
        note "(the server did not start)"
        return 1
    }
}

# Wait (5 s at most) until the server has seen $1 connections close: its lines are shown by then.
server_settled() {
    # shellcheck disable=SC2034 # read by the condition, which wait_for evaluates
    local closed=$1
    wait_for '[ "$(partner_lines server "connection closed")" -ge "$closed" ]' 5
}

server_down() {
    [ -n "$server_pid" ] || return 0
    show_command "kill $server_pid"
    kill "$server_pid" 2> /dev/null
    wait_ended "$server_job" 5
    server_job='' server_pid=''
    wait_for '! ss -ltn 2> /dev/null | grep -q "127.0.0.1:5678 "' 5
}
