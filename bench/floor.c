/* The least a program can do for one piped run of the dialogue, for the
 * benchmarks: write the texts and read its input, without stdio. */
#include <unistd.h>

int main(void)
{
	static const char prompt[] = "\nUnesite 3 broja:";
	static const char rest[] =
	    "\nNajveci broj je: 9\nPress any key to continue . . . \n";
	char input[64];

	if (write(STDOUT_FILENO, prompt, sizeof prompt - 1) < 0)
		return 0;
	while (read(STDIN_FILENO, input, sizeof input) > 0)
		continue;
	if (write(STDOUT_FILENO, rest, sizeof rest - 1) < 0)
		return 0;
	return 0;
}
