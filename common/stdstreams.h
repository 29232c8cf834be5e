// Guards for the standard streams of the programs that open descriptors of their own.
//
// A program started with descriptor 0, 1 or 2 closed would hand that number to the next socket
// or file it opens, and what it prints would then reach the peer or the file. fill_std_fds
// takes every closed one of the three with /dev/null, opened so that a read or write through
// it fails as on a closed descriptor (0 write-only, 1 and 2 read-only): output still goes
// nowhere, and its loss is still noticed. Call it first in main, before anything opens a
// descriptor. errno is left as it was; when /dev/null cannot be opened, the routine reports
// that and exits with status 1.
//
// report_lost_output makes lost output a failure: called last (or given to atexit) it writes out
// what standard output still holds, and when that or an earlier write to it failed (closed, a full
// device) it says "output error", ": " and the reason on standard error and ends with status 1.
#pragma once

void fill_std_fds();
void report_lost_output();
