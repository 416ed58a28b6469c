// The pause where no command processor runs one: what cmd.exe's pause does.

#include "console.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

} // namespace

// Where whoever started the program left stdin non-blocking, EOF with
// EAGAIN means no input yet, which is waited for.
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

namespace {

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

} // namespace

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
