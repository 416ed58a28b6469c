/* The plain scanf version of the same dialogue, as this program is usually
 * written: the baseline for the benchmarks, not a test oracle. */
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
	int a, b, c, largest;

	printf("\nUnesite 3 broja:");
	scanf("%d %d %d", &a, &b, &c);
	largest = a;
	if (b > largest)
		largest = b;
	if (c > largest)
		largest = c;
	printf("\nNajveci broj je: %d", largest);
	printf("\n");
	system("pause");
	return 0;
}
