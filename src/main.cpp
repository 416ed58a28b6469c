// largest-of-three: asks for three whole numbers, reports the largest,
// and waits for a key before the console window can close.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#if !defined(_WIN32)
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>
#endif

static_assert(std::is_same_v<std::int32_t, int>, "the report prints with %d");

namespace {

// What differs between platforms: how to take a character from stdin
// without stdio's lock (there is one thread), and how to wait for a key.
#if defined(_WIN32)

int next_char() { return _getc_nolock(stdin); }

// The command processor's own pause: its text, its wait and its line end.
// It writes to the console itself, so what stdout holds goes out first.
// Whether it could run or not, the program ends the same way.
void wait_for_key()
{
	(void)std::fflush(stdout);
	[[maybe_unused]] const int status = std::system("pause");
}

#else

bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

// getc gave EOF: the end of the input, an error, or, where whoever started
// the program left stdin non-blocking, no input yet, which is waited for.
int eof_or_next_char()
{
	int ch = EOF;
	while (ch == EOF && std::ferror(stdin) && would_block()) {
		std::clearerr(stdin);
		pollfd in{STDIN_FILENO, POLLIN, 0};
		(void)poll(&in, 1, -1);
		ch = getc_unlocked(stdin);
	}
	return ch;
}

// Small enough to be inlined into the loops over long runs of input.
inline int next_char()
{
	const int ch = getc_unlocked(stdin);
	return ch != EOF ? ch : eof_or_next_char();
}

// The signal that interrupted the wait: a handler can only leave a note.
volatile std::sig_atomic_t caught;

void note_signal(int sig) { caught = sig; }

// One key as it is typed: no line editing, no echo, and Ctrl-S and Ctrl-Q
// are keys like any other, not flow control. Ctrl-C, Ctrl-\ and Ctrl-Z
// still send their signals.
void set_key_mode(termios settings)
{
	settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
	settings.c_iflag &= ~static_cast<tcflag_t>(IXON);
	settings.c_cc[VMIN] = 1;
	settings.c_cc[VTIME] = 0;
	(void)tcsetattr(STDIN_FILENO, TCSANOW, &settings);
}

constexpr std::array handled_signals{SIGINT, SIGQUIT, SIGTSTP, SIGTERM, SIGHUP};

// Waits until stdin has something to read, or one of the handled signals
// comes: those are let in only here, so that none comes between a check
// and the wait.
bool input_ready(const sigset_t &waiting)
{
	fd_set input;
	FD_ZERO(&input);
	FD_SET(STDIN_FILENO, &input);
	return pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr,
		       &waiting) > 0;
}

// Does what the signal does by default, stop the program or end it, and
// notes it again if the program goes on.
void act_by_default(int sig, const struct sigaction &noting)
{
	sigset_t just;
	(void)sigemptyset(&just);
	(void)sigaddset(&just, sig);
	(void)std::signal(sig, SIG_DFL);
	(void)raise(sig);
	(void)sigprocmask(SIG_UNBLOCK, &just, nullptr);
	(void)sigprocmask(SIG_BLOCK, &just, nullptr);
	(void)sigaction(sig, &noting, nullptr);
}

// What cmd.exe's pause does: at a terminal, one key, taken whole even when
// it sends a sequence, with the terminal's settings put back as found;
// from anything else, at most one byte, so that a piped run ends by itself.
// Ctrl-C and Ctrl-\ end the wait as a key does. Ctrl-Z stops the program
// with the terminal put back, and the wait goes on after fg; SIGTERM and
// SIGHUP end the program as they would have, once the terminal is put back.
void wait_for_key()
{
	(void)std::printf("Press any key to continue . . . ");
	(void)std::fflush(stdout);

	sigset_t handled, waiting;
	(void)sigemptyset(&handled);
	for (const int sig : handled_signals)
		(void)sigaddset(&handled, sig);
	(void)sigprocmask(SIG_BLOCK, &handled, &waiting);
	struct sigaction noting {};
	noting.sa_handler = note_signal;
	for (const int sig : handled_signals) {
		struct sigaction before {};
		// What the parent has the program ignore stays ignored.
		if (sigaction(sig, nullptr, &before) == 0 &&
		    before.sa_handler != SIG_IGN)
			(void)sigaction(sig, &noting, nullptr);
	}

	termios found;
	const bool terminal = tcgetattr(STDIN_FILENO, &found) == 0;
	if (terminal)
		set_key_mode(found);
	for (;;) {
		if (input_ready(waiting)) {
			std::array<char, 64> key;
			if (read(STDIN_FILENO, key.data(),
				 terminal ? key.size() : 1) >= 0 ||
			    !would_block())
				break;
		} else if (errno != EINTR || caught == SIGINT ||
			   caught == SIGQUIT) {
			break;
		} else {
			if (terminal)
				(void)tcsetattr(STDIN_FILENO, TCSANOW, &found);
			act_by_default(caught, noting);
			if (terminal)
				set_key_mode(found);
		}
	}
	if (terminal)
		(void)tcsetattr(STDIN_FILENO, TCSANOW, &found);

	(void)std::printf("\n");
	(void)std::fflush(stdout);
}

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
	wait_for_key();
	return 0;
}
