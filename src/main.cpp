// largest-of-three: asks for three whole numbers, reports the largest,
// and waits for a key before the console window can close.

#include "console.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <type_traits>

static_assert(std::is_same_v<std::int32_t, int>, "the report prints with %d");

namespace {

constexpr std::int32_t lowest = INT32_MIN;
constexpr std::int32_t highest = INT32_MAX;

// A table, as the C library's isspace uses, is the fastest test on a long
// run of mixed white space. EOF lands on entry 255, which is not a space.
constexpr auto spaces = [] {
	std::array<bool, 256> table{};
	for (const unsigned char ch : {' ', '\t', '\n', '\v', '\f', '\r'})
		table[ch] = true;
	return table;
}();

bool is_space(int ch) { return spaces[static_cast<unsigned char>(ch)]; }
bool is_digit(int ch) { return ch >= '0' && ch <= '9'; }

// Reads one number as scanf's "%d" does: white space, an optional sign,
// decimal digits; the character that ends it stays unread. Unlike "%d",
// a value beyond 32 bits is clamped, and no digit is kept, so a run of
// digits of any length takes constant memory.
bool read_number(std::int32_t &number)
{
	int ch;
	do
		ch = next_char();
	while (is_space(ch));

	const bool negative = ch == '-';
	if (ch == '-' || ch == '+')
		ch = next_char();
	if (!is_digit(ch)) {
		(void)std::ungetc(ch, stdin);
		return false;
	}

	// Once the value is past the range it is settled, and the rest of its
	// digits are only skipped. Up to there it cannot overflow 64 bits.
	std::int64_t magnitude = 0;
	for (; is_digit(ch) && magnitude <= highest; ch = next_char())
		magnitude = magnitude * 10 + (ch - '0');
	while (is_digit(ch))
		ch = next_char();
	(void)std::ungetc(ch, stdin);

	number = static_cast<std::int32_t>(std::clamp<std::int64_t>(
	    negative ? -magnitude : magnitude, lowest, highest));
	return true;
}

} // namespace

int main()
{
	// Buffers of the program's own, so that it needs no heap.
	static char input[BUFSIZ], output[BUFSIZ];
	(void)std::setvbuf(stdin, input, _IOFBF, sizeof input);
	(void)std::setvbuf(stdout, output, _IOFBF, sizeof output);

	(void)std::printf("\nUnesite 3 broja:");
	(void)std::fflush(stdout);

	// A number the input does not give stays the lowest, so it can never
	// be reported as the largest.
	std::int32_t a = lowest, b = lowest, c = lowest;
	(void)(read_number(a) && read_number(b) && read_number(c));

	std::int32_t largest = a;
	if (b > largest)
		largest = b;
	if (c > largest)
		largest = c;

	(void)std::printf("\nNajveci broj je: %d\n", largest);
	wait_for_key();
	return 0;
}
