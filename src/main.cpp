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

// What the pause does with each signal that would end or stop the program
// while the terminal is in key mode. The signals of the program's own
// faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT, SIGSYS) are
// left as they are.
enum class Effect {
	key,  // ends the wait as a key does
	stop, // stops the program, the terminal put back until it goes on
	end,  // ends the program, the terminal put back first
};

struct Watched {
	int sig;
	Effect effect;
};

constexpr Watched fixed_signals[] = {
    // Ctrl-C and Ctrl-\ at the terminal.
    {SIGINT, Effect::key},
    {SIGQUIT, Effect::key},
    // Job control: Ctrl-Z, and a kill -TSTP, -TTIN or -TTOU.
    {SIGTSTP, Effect::stop},
    {SIGTTIN, Effect::stop},
    {SIGTTOU, Effect::stop},
    // Another process, a timer or a resource limit.
    {SIGHUP, Effect::end},
    {SIGALRM, Effect::end},
    {SIGTERM, Effect::end},
    {SIGUSR1, Effect::end},
    {SIGUSR2, Effect::end},
    {SIGPIPE, Effect::end},
    {SIGXCPU, Effect::end},
    {SIGXFSZ, Effect::end},
    {SIGVTALRM, Effect::end},
    {SIGPROF, Effect::end},
#ifdef SIGPOLL
    {SIGPOLL, Effect::end},
#endif
#ifdef SIGPWR
    {SIGPWR, Effect::end},
#endif
};

// The real-time signals all end the program; where there are none, the
// range is empty.
#ifdef SIGRTMIN
int first_realtime() { return SIGRTMIN; }
int last_realtime() { return SIGRTMAX; }
#else
int first_realtime() { return 1; }
int last_realtime() { return 0; }
#endif

// One note for each signal number: every system's signals fit.
constexpr int signal_numbers = 129;
volatile std::sig_atomic_t noted[signal_numbers];

void note_signal(int sig) { noted[sig] = 1; }

Effect effect_of(int sig)
{
	for (const Watched &watched : fixed_signals)
		if (watched.sig == sig)
			return watched.effect;
	return Effect::end;
}

// Calls each(sig) for every signal the pause may take over. Where stdin is
// not a terminal, those that end the program are left to end it: there are
// no settings to put back first.
template <typename Each> void for_each_taken(bool terminal, Each each)
{
	for (const Watched &watched : fixed_signals)
		if (terminal || watched.effect != Effect::end)
			each(watched.sig);
	if (!terminal)
		return;
	for (int sig = first_realtime();
	     sig <= last_realtime() && sig < signal_numbers; ++sig)
		each(sig);
}

// Has each signal of the set noted, or acted on by default again.
void handle_signals(const sigset_t &set, bool terminal, void (*handler)(int))
{
	struct sigaction action {};
	action.sa_handler = handler;
	for_each_taken(terminal, [&](int sig) {
		if (sigismember(&set, sig) == 1)
			(void)sigaction(sig, &action, nullptr);
	});
}

// The signals the pause takes over, blocked but for its wait, and has
// noted. Those the parent left ignored stay ignored.
sigset_t take_over_signals(bool terminal, sigset_t &waiting)
{
	sigset_t taken;
	(void)sigemptyset(&taken);
	for_each_taken(terminal,
		       [&](int sig) { (void)sigaddset(&taken, sig); });
	(void)sigprocmask(SIG_BLOCK, &taken, &waiting);
	struct sigaction noting {};
	noting.sa_handler = note_signal;
	for_each_taken(terminal, [&](int sig) {
		struct sigaction before {};
		if (sigaction(sig, &noting, &before) == 0 &&
		    before.sa_handler == SIG_IGN) {
			(void)sigaction(sig, &before, nullptr);
			(void)sigdelset(&taken, sig);
		}
	});
	return taken;
}

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

constexpr char pause_text[] = "Press any key to continue . . . ";

// The terminal the pause has in key mode, if stdin is one, with the
// settings it had before.
struct Terminal {
	bool is;
	termios found;

	void put_back() const
	{
		if (is)
			(void)tcsetattr(STDIN_FILENO, TCSANOW, &found);
	}
};

// Has the signals of the set act by default, once the terminal is put
// back: an ending one ends the program here. After a stop, when the
// program goes on, key mode is set again, and at a terminal the text is
// shown again, since the shell has written over it.
void act_by_default(const sigset_t &set, const Terminal &terminal)
{
	terminal.put_back();
	handle_signals(set, terminal.is, SIG_DFL);
	for_each_taken(terminal.is, [&](int sig) {
		if (sigismember(&set, sig) == 1)
			(void)raise(sig);
	});
	(void)sigprocmask(SIG_UNBLOCK, &set, nullptr);
	(void)sigprocmask(SIG_BLOCK, &set, nullptr);
	handle_signals(set, terminal.is, note_signal);
	if (terminal.is)
		set_key_mode(terminal.found);
	if (isatty(STDOUT_FILENO)) {
		(void)std::fputs(pause_text, stdout);
		(void)std::fflush(stdout);
	}
}

// Acts on every signal that came in one wait, the weightiest first: one
// that ends the program wins over a stop, and a stop over Ctrl-C or
// Ctrl-\, which end the wait once the program goes on. Returns whether the
// wait goes on.
bool act_on_signals(const Terminal &terminal)
{
	sigset_t ending, stopping;
	(void)sigemptyset(&ending);
	(void)sigemptyset(&stopping);
	bool end = false, stop = false, key = false;
	for (int sig = 1; sig < signal_numbers; ++sig) {
		if (!noted[sig])
			continue;
		noted[sig] = 0;
		switch (effect_of(sig)) {
		case Effect::key:
			key = true;
			break;
		case Effect::stop:
			// Several stops are one: it takes one fg to go on.
			if (!stop)
				(void)sigaddset(&stopping, sig);
			stop = true;
			break;
		case Effect::end:
			(void)sigaddset(&ending, sig);
			end = true;
			break;
		}
	}
	if (end)
		act_by_default(ending, terminal);
	else if (stop)
		act_by_default(stopping, terminal);
	return !key;
}

// Waits until stdin has something to read, or a taken signal comes: those
// are let in only here, so that none comes between a check and the wait.
bool input_ready(const sigset_t &waiting)
{
	fd_set input;
	FD_ZERO(&input);
	FD_SET(STDIN_FILENO, &input);
	return pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr,
		       &waiting) > 0;
}

// What cmd.exe's pause does: at a terminal, one key, taken whole even when
// it sends a sequence, with the terminal's settings put back as found;
// from anything else, at most one byte, so that a piped run ends by itself.
// A signal that would end or stop the program acts as it would have, but
// with the terminal put back first.
void wait_for_key()
{
	(void)std::fputs(pause_text, stdout);
	(void)std::fflush(stdout);

	Terminal terminal{};
	terminal.is = tcgetattr(STDIN_FILENO, &terminal.found) == 0;
	sigset_t waiting;
	const sigset_t taken = take_over_signals(terminal.is, waiting);
	if (terminal.is)
		set_key_mode(terminal.found);
	for (;;) {
		if (input_ready(waiting)) {
			std::array<char, 64> key;
			if (read(STDIN_FILENO, key.data(),
				 terminal.is ? key.size() : 1) >= 0 ||
			    !would_block())
				break;
		} else if (errno != EINTR || !act_on_signals(terminal)) {
			break;
		}
	}
	terminal.put_back();

	// From here on every signal acts as it did before the pause.
	handle_signals(taken, terminal.is, SIG_DFL);
	(void)sigprocmask(SIG_SETMASK, &waiting, nullptr);
	(void)std::putchar('\n');
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

	(void)std::printf("\nNajveci broj je: %d", largest);
	(void)std::printf("\n");
	wait_for_key();
	return 0;
}
