// The console as a POSIX system has it: the character source that the
// reader's loops inline, and the pause that stands in for the command
// processor's.
#pragma once

#include <cstdio>

// getc gave EOF: the end of the input or an error, or no input yet.
int eof_or_next_char();

// Small enough to be inlined into the loops over long runs of input; there
// is one thread, so stdio's lock is not taken.
inline int next_char()
{
	const int ch = getc_unlocked(stdin);
	return ch != EOF ? ch : eof_or_next_char();
}

// Writes the pause's text, waits for a key as cmd.exe's pause does, and
// ends the line.
void wait_for_key();
