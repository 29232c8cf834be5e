# For ./tour --syscalls: keeps the lines of an strace -f log whose call matches TRACE_FILTER
# (from the environment), unedited, and tags them (see trace_filter in the tour).
BEGIN { filter = ENVIRON["TRACE_FILTER"]; repeats = ENVIRON["TRACE_REPEATS"] + 0 }
function flush() { if (hidden > 0) print "M " hidden; hidden = 0 }
{
    pid = $1
    rest = substr($0, length($1) + 2)
    sub(/^ +/, "", rest)
    name = ""
    if (match(rest, /^<\.\.\. [a-z0-9_]+ resumed>/)) {
        keep = pending[pid]
        delete pending[pid]
    } else {
        if (match(rest, /^[a-z0-9_]+\(/)) name = substr(rest, 1, RLENGTH - 1)
        keep = rest ~ filter
        if (rest ~ /<unfinished \.\.\.>$/) pending[pid] = keep
    }
    if (!keep) {
        if (name != "") { left[name]++; nleft++ }
        next
    }
    key = ""
    if (name != "" && match(rest, / = [^=]*$/)) key = name substr(rest, RSTART)
    if (key != "" && key == last) {
        if (++run > repeats) { hidden++; next }
    } else {
        flush()
        run = 1
        last = key
    }
    print "L " $0
}
END {
    flush()
    if (nleft == 0) exit
    line = nleft " other call" (nleft == 1 ? "" : "s") ":"
    for (shown = 0; shown < 8; shown++) {
        best = ""
        for (n in left)
            if (best == "" || left[n] > left[best] || (left[n] == left[best] && n < best)) best = n
        if (best == "") break
        line = line (shown ? ", " : " ") best " " left[best]
        delete left[best]
    }
    for (n in left) { line = line ", ..."; break }
    print "D " line
}
