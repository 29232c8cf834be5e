# shellcheck shell=bash
# For the tour's ipc stops (postbox.tour, postinfo.tour). The message queue with key 0x12345 may
# be someone's, messages and all: the tour removes only the queue its own postbox created, by
# the identifier it was given, never one it found. Sourced by both stops: what it knows is kept
# from one to the other (queue_state is set once).

if [ -z "${queue_state:-}" ]; then
    queue_state=unknown # then: theirs (there before the tour), or ours (the tour's postbox made it)
    tour_queue=         # identifier of the queue the tour created, until it is removed
    told_theirs=0
    at_exit remove_tour_queue
fi

# True when there is no queue with key 0x12345 (postinfo, which never creates one, finds none).
queue_absent() {
    [ "$("$bin_dir/postinfo" 2>&1 > /dev/null)" = "msgget: No such file or directory" ]
}

# The identifier of the queue with key 0x12345, which postbox opens (or creates) and prints.
queue_id() {
    local line
    line=$("$bin_dir/postbox" 2> /dev/null) && [[ $line =~ ^queue\ id:([0-9]+)$ ]] &&
        echo "${BASH_REMATCH[1]}"
}

# Before a stop runs postbox: true when a queue was there already and is not the tour's.
queue_is_theirs() {
    [ "$queue_state" = ours ] && return 1
    [ "$queue_state" = theirs ] && return 0
    queue_absent && { queue_state=ours; return 1; }
    queue_state=theirs
}

remove_tour_queue() {
    [ "$queue_state" = ours ] || return 0
    # Interrupted right after creating it, the tour may not have its identifier yet.
    [ -n "$tour_queue" ] || tour_queue=$(queue_id)
    [ -n "$tour_queue" ] && command -v ipcrm > /dev/null && ipcrm -q "$tour_queue" 2> /dev/null
    queue_state=unknown tour_queue=
}

# Says, once, that the queue with key 0x12345 was there before the tour: it is left as it was.
tell_queue_is_theirs() {
    [ "$told_theirs" -eq 0 ] || return 0
    told_theirs=1
    # Someone else's queue may not let this user in (mode 0600, say): say what really happens.
    if [ -n "$(queue_id)" ]; then
        say "A queue with key 0x12345 exists already, made before the tour: postbox opens it and" \
            "changes nothing, and the tour leaves it as it found it, messages and all."
    else
        say "A queue with key 0x12345 exists already, made before the tour, and its permissions" \
            "keep you out: postbox cannot open it ('queue id:-1', then 'msgget: Permission denied')" \
            "and postinfo cannot read its status ('msgctl: Permission denied'). The tour leaves it" \
            "as it is."
    fi
}

# Runs postbox as a shown command; notes the identifier when the tour's postbox created the queue.
run_postbox() {
    run_shown "$(program postbox)"
    if [ "$queue_state" = ours ] && [ -z "$tour_queue" ]; then
        tour_queue=$(queue_id)
    fi
}
