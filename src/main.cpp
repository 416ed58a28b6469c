// largest-of-three: asks for three whole numbers, reports the largest,
// and waits for a key before the console window can close.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

static_assert(std::is_same_v<std::int32_t, int>, "the report prints with %d");

namespace {

// The one thing that differs between platforms: how to pause, and how to
// take a character from stdio's buffer without a lock (there is one thread).
#if defined(_WIN32)
constexpr char pause_command[] = "pause";
int next_char() { return _getc_nolock(stdin); }
#else
// POSIX shells have no "pause"; this does what cmd.exe's does. At a
// terminal it takes one key without echo or Enter (one read takes a whole
// escape sequence) and puts the terminal back, also after Ctrl-C or Ctrl-\,
// which system() has the program ignore while it waits. Otherwise it takes
// at most one byte, so a piped run does not wait. Errors go to /dev/null:
// a missing stty or dd only makes the pause not wait.
constexpr char pause_command[] =
    "printf 'Press any key to continue . . . '; "
    "if [ -t 0 ]; then "
    "t=$(stty -g); trap 'stty \"$t\"' INT QUIT; "
    "stty -icanon -echo min 1 time 0; dd bs=64 count=1; stty \"$t\"; "
    "else dd bs=1 count=1; fi >/dev/null 2>&1; echo";
int next_char() { return getc_unlocked(stdin); }
#endif

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

	// Stop growing one past the range: enough to clamp, and no overflow.
	constexpr std::int64_t beyond = std::int64_t{highest} + 1;
	std::int64_t magnitude = 0;
	for (; is_digit(ch); ch = next_char())
		magnitude = std::min(magnitude * 10 + (ch - '0'), beyond);
	(void)std::ungetc(ch, stdin);

	number = static_cast<std::int32_t>(std::clamp<std::int64_t>(
	    negative ? -magnitude : magnitude, lowest, highest));
	return true;
}

} // namespace

int main()
{
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

	(void)std::printf("\nNajveci broj je: %d", largest);
	(void)std::printf("\n");
	(void)std::fflush(stdout);

	(void)std::system(pause_command);
	return 0;
}
