// The reader's slow path, where getc gives EOF: the end of the input, an
// error, or no input yet on a stdin left non-blocking.

#include "console.h"

#include <sys/select.h>
#include <unistd.h>

bool input_open = true;

int stdin_ready(const timespec *patience, const sigset_t *mask)
{
	fd_set input;
	FD_ZERO(&input);
	FD_SET(STDIN_FILENO, &input);
	return pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, patience,
		       mask);
}

// No input yet is waited for. The error indicator that EAGAIN set stays:
// nothing asks for it, and it keeps no later getc from reading.
int eof_or_next_char()
{
	int ch = EOF;
	while (ch == EOF && !std::feof(stdin) && would_block()) {
		(void)stdin_ready(nullptr, nullptr);
		ch = getc_unlocked(stdin);
	}
	input_open = ch != EOF;
	return ch;
}
