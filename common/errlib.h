// The shared error routines and descriptor-flag helpers.
//
// Each routine writes one line to standard error: the caller's printf-style text, then, for
// err_ret, err_sys and err_dump, ": " and the system's text for the errno that was current at
// the call. Standard output is flushed first, so what a program already printed comes out
// before the message. err_ret and err_msg return; err_sys and err_quit exit with status 1;
// err_dump aborts.
#pragma once

// A program may record its name here; none of the routines reads it.
extern const char *pname;

[[gnu::format(printf, 1, 2)]] void err_ret(const char *fmt, ...);
[[noreturn, gnu::format(printf, 1, 2)]] void err_sys(const char *fmt, ...);
[[noreturn, gnu::format(printf, 1, 2)]] void err_dump(const char *fmt, ...);
[[gnu::format(printf, 1, 2)]] void err_msg(const char *fmt, ...);
[[noreturn, gnu::format(printf, 1, 2)]] void err_quit(const char *fmt, ...);

// Turn the given file status flags of fd on (set_fl) or off (clr_fl), keeping all others.
// Either one ends the program through err_sys when the flags cannot be read or written.
void set_fl(int fd, int flags);
void clr_fl(int fd, int flags);
