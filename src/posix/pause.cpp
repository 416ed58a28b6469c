// The pause where no command processor runs one: what cmd.exe's pause does,
// done as a job-control shell expects of a program that reads the terminal.

#include "console.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

// Waits until stdin has something to read, for at most the time given,
// with the signal mask given: pselect's result.
int stdin_ready(const timespec *patience, const sigset_t *mask)
{
	fd_set input;
	FD_ZERO(&input);
	FD_SET(STDIN_FILENO, &input);
	return pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, patience,
		       mask);
}

} // namespace

// Where whoever started the program left stdin non-blocking, EOF with
// EAGAIN means no input yet, which is waited for.
int eof_or_next_char()
{
	int ch = EOF;
	while (ch == EOF && std::ferror(stdin) && would_block()) {
		std::clearerr(stdin);
		(void)stdin_ready(nullptr, nullptr);
		ch = getc_unlocked(stdin);
	}
	return ch;
}

namespace {

constexpr char pause_text[] = "Press any key to continue . . . ";

// The bytes of one key may come apart on a slow line by this much, as
// vim's ttimeoutlen has it: 100 ms.
constexpr timespec key_bytes_apart{0, 100'000'000};

// Signal numbers are below this on every system: FreeBSD's end at 128.
constexpr int signal_numbers = 129;

volatile std::sig_atomic_t noted[signal_numbers];
volatile std::sig_atomic_t any_noted;

// How each signal the pause takes was found. Not on the stack: there,
// stack clash protection would touch each of its five pages on the way in,
// also in a run whose pause never waits.
struct sigaction found_actions[signal_numbers];

void note(int sig)
{
	noted[sig] = 1;
	any_noted = 1;
}

// Whether the bytes end inside a key: after an ESC, in the sequence it
// begins, or in a UTF-8 character.
bool ends_inside_key(const unsigned char *bytes, std::size_t size)
{
	enum { between, escape, sequence, utf8 } state = between;
	int more = 0; // continuation bytes the UTF-8 character still needs
	for (std::size_t i = 0; i < size; ++i) {
		const unsigned char ch = bytes[i];
		switch (state) {
		case escape: // ESC [ and ESC O begin a sequence; ESC and
			     // another key are Alt and that key
			if (ch == '[' || ch == 'O') {
				state = sequence;
				continue;
			}
			break;
		case sequence: // parameters up to a final byte
			if (ch >= 0x40 && ch <= 0x7e)
				state = between;
			continue;
		case utf8:
			if ((ch & 0xc0) == 0x80) {
				if (--more == 0)
					state = between;
				continue;
			}
			break; // the character was cut short: a key begins
		case between:
			break;
		}
		if (ch >= 0xc2 && ch <= 0xf4) {
			state = utf8;
			more = ch >= 0xf0 ? 3 : ch >= 0xe0 ? 2 : 1;
		} else {
			state = ch == 0x1b ? escape : between;
		}
	}
	return state != between;
}

// What the pause does with a signal it takes.
enum class Taken {
	no,
	key,       // Ctrl-C and Ctrl-\ end the pause as a key does
	continued, // SIGCONT: the program went on after a stop
	acts,      // acts as it would have, once the terminal is put back
};

// The pause, in rounds as readpassphrase(3) reads a passphrase: a round
// takes the signals, sets key mode, shows the text again after a stop, and
// waits; then it puts the terminal back, gives every signal back as it
// found it, and lets each noted one act. A stop ends a round, and going on
// begins the next.
struct Pause {
	bool terminal, stops;
	termios found{}, keys{};
	sigset_t found_mask, held, taken;

	Pause()
	{
		terminal = tcgetattr(STDIN_FILENO, &found) == 0;
		keys = found;
		// One key as it is typed: no line editing, no echo, and Ctrl-S
		// and Ctrl-Q are keys like any other, not flow control. Ctrl-C,
		// Ctrl-\ and Ctrl-Z still send their signals. A read returns at
		// once, with what there is: the wait is pselect's alone.
		keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
		keys.c_iflag &= ~static_cast<tcflag_t>(IXON);
		keys.c_cc[VMIN] = 0;
		keys.c_cc[VTIME] = 0;
		(void)sigprocmask(SIG_SETMASK, nullptr, &found_mask);
		(void)sigemptyset(&taken);
		// A process group its session's leader leads (the program as a
		// terminal window's own, or as a container's first process) is
		// not stopped by job control: those signals would do nothing.
		stops = terminal && getpgrp() != getsid(0);
	}

	void run()
	{
		for (bool key = false; !key;) {
			take();
			const bool continued = noted[SIGCONT] != 0;
			for (auto &sig : noted)
				sig = 0;
			any_noted = 0;
			key = round(continued);
			give_back(key);
		}
	}

	// Has each signal the pause takes noted, and held but while the
	// pause waits or calls on the terminal. Those that whoever started
	// the program left ignored stay ignored; SIGCONT, once taken, stays
	// so until the pause ends.
	void take()
	{
		sigset_t taking;
		(void)sigemptyset(&taking);
		for (int sig = 1; sig < signal_numbers; ++sig)
			if (what(sig) != Taken::no)
				(void)sigaddset(&taking, sig);
		(void)sigprocmask(SIG_BLOCK, &taking, nullptr);
		struct sigaction noting {};
		noting.sa_handler = note;
		for (int sig = 1; sig < signal_numbers; ++sig) {
			if (sigismember(&taking, sig) != 1 ||
			    sigismember(&taken, sig) == 1 ||
			    sigaction(sig, &noting, &found_actions[sig]) != 0)
				continue;
			if (found_actions[sig].sa_handler == SIG_IGN)
				(void)sigaction(sig, &found_actions[sig],
						nullptr);
			else
				(void)sigaddset(&taken, sig);
		}
		(void)sigprocmask(SIG_SETMASK, nullptr, &held);
	}

	// One round; returns whether a key came, or the input ended.
	bool round(bool continued)
	{
		const bool key_mode =
		    terminal &&
		    on_terminal([&] {
			    return tcsetattr(STDIN_FILENO, TCSANOW, &keys);
		    }) == 0;
		// After a stop the shell has written over the text: it goes
		// again to the terminal the key comes from, whatever stdout is.
		if (key_mode && continued && !any_noted)
			(void)on_terminal([] {
				return write(STDIN_FILENO, pause_text,
					     sizeof pause_text - 1);
			});
		const bool key = wait();
		// A job in the background leaves the settings alone: its shell
		// has put its own.
		while (key_mode &&
		       on_terminal([&] {
			       return tcsetattr(STDIN_FILENO, TCSANOW, &found);
		       }) != 0 &&
		       errno == EINTR && !noted[SIGTTOU])
			continue;
		return key || noted[SIGINT] || noted[SIGQUIT];
	}

	// Gives back every signal taken, and all of the mask, as found, but
	// SIGCONT until the last round; each noted signal that acts is
	// raised while it is still held, so that it acts once the mask is
	// given back, as it would have without the pause: the program may
	// end or stop here.
	void give_back(bool last)
	{
		for (int sig = 1; sig < signal_numbers; ++sig) {
			if (sigismember(&taken, sig) != 1 ||
			    (sig == SIGCONT && !last))
				continue;
			(void)sigaction(sig, &found_actions[sig], nullptr);
			(void)sigdelset(&taken, sig);
			if (noted[sig] && what(sig) == Taken::acts)
				(void)std::raise(sig);
		}
		(void)sigprocmask(SIG_SETMASK, &found_mask, nullptr);
	}

	// Waits for a key, and takes it whole. Returns false when a signal
	// came first.
	bool wait()
	{
		std::array<unsigned char, 64> key;
		while (!any_noted) {
			const int ready_now = ready(nullptr);
			if (ready_now < 0 && errno != EINTR)
				return true;
			if (ready_now <= 0)
				continue;
			// At a terminal in key mode the read cannot block: a
			// key that Ctrl-C flushed, or that another reader took,
			// sends the pause back to its wait. From anything else
			// it reads at most one byte, so that a piped run ends
			// by itself.
			const ssize_t got = on_terminal([&] {
				return read(STDIN_FILENO, key.data(),
					    terminal ? key.size() : 1);
			});
			if (got > 0) {
				take_whole(key.data(), key.size(), got);
				return true;
			}
			// The end of the input, an error, or a terminal that
			// hung up, which reads as empty for ever.
			termios now;
			if (got < 0
				? errno != EINTR && !would_block()
				: !terminal || tcgetattr(STDIN_FILENO, &now))
				return true;
		}
		return false;
	}

	// Reads what else comes of a key whose bytes have come apart.
	void take_whole(unsigned char *key, std::size_t size, std::size_t got)
	{
		while (got < size && ends_inside_key(key, got) &&
		       ready(&key_bytes_apart) > 0) {
			const ssize_t more = on_terminal([&] {
				return read(STDIN_FILENO, key + got,
					    size - got);
			});
			if (more <= 0)
				return;
			got += static_cast<std::size_t>(more);
		}
	}

	// Waits for stdin with the taken signals let in. A signal that came
	// before is held until here, so none comes between a check and the
	// wait.
	int ready(const timespec *patience) const
	{
		return stdin_ready(patience, &found_mask);
	}

	// Calls on the terminal with the taken signals let in, as the wait
	// has them. One that comes is noted and cuts the call short with
	// EINTR; that is also how SIGTTOU and SIGTTIN come for a job in the
	// background, which then stops as it would have without the pause,
	// without touching the terminal's settings or its screen.
	template <typename Call>
	auto on_terminal(Call call) const -> decltype(call())
	{
		(void)sigprocmask(SIG_SETMASK, &found_mask, nullptr);
		const auto result = call();
		const int error = errno;
		(void)sigprocmask(SIG_SETMASK, &held, nullptr);
		errno = error;
		return result;
	}

	// Where stdin is no terminal there are no settings to put back, and
	// only the keys are taken. Signals ignored by default do nothing, and
	// SIGCONT is taken only to know that a stop has ended.
	Taken what(int sig) const
	{
		switch (sig) {
		case SIGINT:
		case SIGQUIT:
			return Taken::key;
		case SIGCONT:
			return terminal ? Taken::continued : Taken::no;
		case SIGCHLD:
		case SIGURG:
		case SIGWINCH:
#ifdef SIGINFO
		case SIGINFO:
#endif
			return Taken::no;
		case SIGTSTP:
		case SIGTTIN:
		case SIGTTOU:
			return stops ? Taken::acts : Taken::no;
		default:
			return terminal ? Taken::acts : Taken::no;
		}
	}
};

// Stdin holds no key to wait for: stdio has seen its end or an error, or
// it is a file, whose every byte is data.
bool no_key_can_come()
{
	struct stat status;
	return std::feof(stdin) || std::ferror(stdin) ||
	       (fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode));
}

} // namespace

void wait_for_key()
{
	(void)std::fputs(pause_text, stdout);
	(void)std::fflush(stdout);
	if (!no_key_can_come())
		Pause().run();
	(void)std::printf("\n");
	(void)std::fflush(stdout);
}
