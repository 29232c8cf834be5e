# For ./tour --syscalls: the kernel view's events from an strace -f log. Keeps the lines whose
# call matches ENVIRON["TRACE_FILTER"], unedited, as "kline LINE"; "kmore N" for N more lines
# like the one before (same call, same result) after TRACE_REPEATS of them in a row (0: no
# limit); "kleft ..." the calls left out, counted by name. A call interrupted by another
# process's line is kept or left out with its "resumed" rest. A copy of descriptor 2 made by
# dup counts as 2 (perror writes through one), and a note says which it is.
BEGIN { filter = ENVIRON["TRACE_FILTER"]; repeats = ENVIRON["TRACE_REPEATS"] + 0; OFS = "\t" }
function flush() { if (hidden > 0) print "kmore", hidden; hidden = 0 }
{
    pid = $1
    rest = substr($0, length($1) + 2)
    sub(/^ +/, "", rest)
    name = ""
    copy = ""
    if (match(rest, /^<\.\.\. [a-z0-9_]+ resumed>/)) {
        keep = pending[pid]
        delete pending[pid]
    } else {
        if (match(rest, /^[a-z0-9_]+\(/)) name = substr(rest, 1, RLENGTH - 1)
        as_seen = rest
        if (match(rest, /^write\([0-9]+,/)) {
            fd = substr(rest, 7, RLENGTH - 7)
            if ((pid, fd) in copy_of_2) { copy = fd; sub(/^write\([0-9]+,/, "write(2,", as_seen) }
        }
        keep = as_seen ~ filter
        if (rest ~ /<unfinished \.\.\.>$/) pending[pid] = keep
    }
    if (name == "dup" && rest ~ /^dup\(2\) += [0-9]+/) {
        n = rest
        sub(/^dup\(2\) += /, "", n)
        copy_of_2[pid, n + 0] = 1
    }
    if (name == "close" && match(rest, /^close\([0-9]+\)/)) delete copy_of_2[pid, substr(rest, 7, RLENGTH - 7) + 0]
    if (!keep) {
        if (name != "") { left[name]++; nleft++ }
        next
    }
    key = ""
    if (name != "" && match(rest, / = [^=]*$/)) key = name substr(rest, RSTART)
    if (key != "" && key == last && repeats > 0) {
        if (++run > repeats) { hidden++; next }
    } else {
        flush()
        run = 1
        last = key
    }
    n = split($0, piece, "\\") # a backslash, then a tab, as the stream writes them
    line = piece[1]
    for (i = 2; i <= n; i++) line = line "\\\\" piece[i]
    gsub(/\t/, "\\t", line)
    print "kline", line
    if (copy != "") print "knote", "descriptor " copy " is the copy of 2 that dup made: perror writes through it"
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
    print "kleft", line
}
