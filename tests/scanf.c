/* The C library's own read of the three numbers, for the tests to hold the
 * program's against: for each file named, scanf("%d %d %d") from it as
 * stdin, then the largest, a number not stored counting as the lowest, as
 * the program reports it, and the byte where the read left the file. */
#include <limits.h>
#include <stdio.h>

int main(int argc, char **argv)
{
	for (int i = 1; i < argc && freopen(argv[i], "r", stdin); ++i) {
		int a = INT_MIN, b = INT_MIN, c = INT_MIN;
		int stored = scanf("%d %d %d", &a, &b, &c);

		(void)stored;
		if (b > a)
			a = b;
		if (c > a)
			a = c;
		printf("%d %ld\n", a, ftell(stdin));
	}
	return 0;
}
