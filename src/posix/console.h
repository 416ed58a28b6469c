// The console as a POSIX system has it: the character source that the
// reader's loops inline, and the pause that stands in for the command
// processor's.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

// getc gave EOF: the end of the input or an error, or no input yet.
int eof_or_next_char();

// Small enough to be inlined into the loops over long runs of input; there
// is one thread, so stdio's lock is not taken.
inline int next_char()
{
	const int ch = getc_unlocked(stdin);
	return ch != EOF ? ch : eof_or_next_char();
}

// The input may give more characters: it has neither ended nor failed.
extern bool input_open;

inline bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

// Waits until stdin has something to read, for at most the time given,
// with the signal mask given: pselect's result.
int stdin_ready(const timespec *patience, const sigset_t *mask);

// Writes the pause's text, waits for a key as cmd.exe's pause does, and
// ends the line.
void wait_for_key();
