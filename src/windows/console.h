// The console as Windows has it: the character source that the reader's
// loops inline, and the command processor's own pause.
#pragma once

#include <cstdio>

// There is one thread, so the C runtime's lock is not taken.
inline int next_char() { return _getc_nolock(stdin); }

// Has the command processor run its pause: its text, its wait for a key,
// and its line end.
void wait_for_key();
