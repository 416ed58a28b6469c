// The pause where no command processor runs one: what cmd.exe's pause does,
// done as a job-control shell expects of a program that reads the terminal.

#include "console.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <iterator>
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

// Drawn again from the start of its line, so that it never stands twice on
// one line.
constexpr char redrawn[] = "\rPress any key to continue . . . ";
constexpr const char *pause_text = redrawn + 1;

// The bytes of one key may come apart on a slow line by this much, as
// vim's ttimeoutlen has it: 100 ms.
constexpr timespec key_bytes_apart{0, 100'000'000};

// How often a job that cannot stop in the background asks whether it has
// the terminal again: bash's fg sends no SIGCONT to a job that runs. Soon
// enough that the pause seems to come back at once.
constexpr timespec background_check{0, 100'000'000};

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

// Terminal settings compared by their modes and characters. Not by speed,
// which no one sets at a pause, and which Linux keeps in c_cflag anyway:
// cfgetispeed and cfgetospeed would be two more symbols to bind at every
// start.
bool same(const termios &a, const termios &b)
{
	return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
	       a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
	       std::equal(std::begin(a.c_cc), std::end(a.c_cc),
			  std::begin(b.c_cc));
}

// Whether the descriptor is on the terminal stdin is: the same device, or
// both the controlling terminal, which /dev/tty stands for and which alone
// has a foreground group to tell.
bool on_key_terminal(int fd)
{
	struct stat key, other;
	return fd == STDIN_FILENO ||
	       (fstat(STDIN_FILENO, &key) == 0 && fstat(fd, &other) == 0 &&
		(key.st_rdev == other.st_rdev ||
		 (tcgetpgrp(STDIN_FILENO) >= 0 && tcgetpgrp(fd) >= 0)));
}

// What the pause does with a signal it takes.
enum class Taken {
	no,
	key,       // Ctrl-C and Ctrl-\ end the pause as a key does
	continued, // SIGCONT: the program went on after a stop
	acts,      // acts as it would have, once the terminal is put back
};

// The pause, in rounds as readpassphrase(3) reads a passphrase: a round
// takes the signals, and in the foreground reads the terminal's settings,
// sets key mode, shows the text again after a stop, and waits; then it
// puts the settings back, gives every signal back as it found it, and lets
// each noted one act. A stop ends a round, and going on begins the next.
struct Pause {
	bool terminal;
	sigset_t found_mask, let_in, held;
	bool taken[signal_numbers] = {};
	int shown_on = -1; // the descriptor the text was drawn again through
	// The terminal, where the pause opened it for that. The program ends
	// right after the pause, and its end closes it.
	int opened = -1;
	// The text may have been written over: after a continue.
	bool redraw = false;
	// A stop by SIGTTIN was tried, and no continue has come since: it did
	// nothing.
	bool stop_tried = false;

	Pause()
	{
		termios settings;
		terminal = tcgetattr(STDIN_FILENO, &settings) == 0;
		// Going on cannot be held off, so SIGCONT is always let in:
		// the pause learns of every continue.
		sigset_t cont;
		(void)sigemptyset(&cont);
		(void)sigaddset(&cont, SIGCONT);
		(void)sigprocmask(SIG_UNBLOCK, &cont, &found_mask);
		(void)sigprocmask(SIG_SETMASK, nullptr, &let_in);
	}

	void run()
	{
		for (bool key = false; !key;) {
			take();
			if (noted[SIGCONT]) {
				redraw = true;
				stop_tried = false;
			}
			for (auto &sig : noted)
				sig = 0;
			any_noted = 0;
			key = round();
			give_back(key);
		}
		// The line the text was drawn again on ends there too.
		if (shown_on >= 0 && !on_key_terminal(STDOUT_FILENO)) {
			[[maybe_unused]] const ssize_t ended =
			    write(shown_on, "\n", 1);
		}
	}

	// Has each signal the pause takes noted, and held but while the
	// pause waits or calls on the terminal. Those that whoever started
	// the program left ignored stay ignored, but SIGCONT, which is only
	// noted; once taken, SIGCONT stays so until the pause ends.
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
			if (what(sig) == Taken::no || taken[sig] ||
			    sigaction(sig, &noting, &found_actions[sig]) != 0)
				continue;
			if (found_actions[sig].sa_handler == SIG_IGN &&
			    sig != SIGCONT)
				(void)sigaction(sig, &found_actions[sig],
						nullptr);
			else
				taken[sig] = true;
		}
		(void)sigprocmask(SIG_SETMASK, nullptr, &held);
	}

	// One round; returns whether a key came, or the input ended.
	bool round()
	{
		// The terminal is asked, not a signal that may be switched off.
		// In the background it is left alone: the pause stops as cat
		// does, by SIGTTIN; where that did nothing (SIGTTIN ignored or
		// held off, a group no shell stops) it waits to have the
		// terminal again. Without job control (not the controlling
		// terminal) the terminal is the program's.
		const pid_t holder = tcgetpgrp(STDIN_FILENO);
		if (holder >= 0 && holder != getpgrp()) {
			if (!stop_tried) {
				stop_tried = true;
				note(SIGTTIN);
			} else {
				(void)pselect(0, nullptr, nullptr, nullptr,
					      &background_check, &let_in);
			}
			return false;
		}
		termios found, keys;
		const bool key_mode = tcgetattr(STDIN_FILENO, &found) == 0 &&
				      set_key_mode(found, keys);
		if (key_mode && redraw && !any_noted)
			show_again();
		const bool key = wait();
		if (key_mode)
			put_back(found, keys);
		return key || noted[SIGINT] || noted[SIGQUIT];
	}

	// Sets key mode, made from the settings found, so that what was set
	// while the program was stopped stays: one key as it is typed, no line
	// editing, no echo, and Ctrl-S and Ctrl-Q are keys like any other, not
	// flow control. Ctrl-C, Ctrl-\ and Ctrl-Z still send their signals. A
	// read returns at once, with what there is: the wait is pselect's
	// alone. Keys become what the terminal then has.
	bool set_key_mode(const termios &found, termios &keys) const
	{
		keys = found;
		keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
		keys.c_iflag &= ~static_cast<tcflag_t>(IXON);
		keys.c_cc[VMIN] = 0;
		keys.c_cc[VTIME] = 0;
		return on_terminal([&] {
			       return tcsetattr(STDIN_FILENO, TCSANOW, &keys);
		       }) == 0 &&
		       tcgetattr(STDIN_FILENO, &keys) == 0;
	}

	// The settings go back while the terminal still has the key mode the
	// pause set, also where it has been taken from the job (a shell that
	// hangs up takes it at once); settings someone has set since are left
	// alone. SIGTTOU is held off, so that the terminal lets the call
	// through from the background.
	void put_back(const termios &found, const termios &keys) const
	{
		sigset_t quiet = held;
		(void)sigaddset(&quiet, SIGTTOU);
		(void)sigprocmask(SIG_SETMASK, &quiet, nullptr);
		termios now;
		if (tcgetattr(STDIN_FILENO, &now) == 0 && same(now, keys))
			(void)tcsetattr(STDIN_FILENO, TCSANOW, &found);
		(void)sigprocmask(SIG_SETMASK, &held, nullptr);
	}

	// After a stop the shell has written over the text: it is drawn again
	// on the terminal the key comes from, whatever stdout is: through
	// stdin, where it is open for writing, else (</dev/tty) through the
	// terminal opened for it, which /dev/tty is wherever a shell can stop
	// the program.
	void show_again()
	{
		redraw = false;
		if (draws_on(STDIN_FILENO))
			return;
		if (opened < 0)
			opened = open("/dev/tty", O_WRONLY | O_NOCTTY);
		(void)(opened >= 0 && draws_on(opened));
	}

	// Draws the text through the descriptor, where it is on the terminal
	// the key comes from and open for writing.
	bool draws_on(int fd)
	{
		const auto draw = [&] {
			return write(fd, redrawn, sizeof redrawn - 1);
		};
		if (!on_key_terminal(fd) || on_terminal(draw) < 0)
			return false;
		shown_on = fd;
		return true;
	}

	// Gives back every signal taken, and all of the mask, as found, but
	// SIGCONT until the last round; each noted signal that acts is
	// raised while it is still held, so that it acts once the mask is
	// given back, as it would have without the pause: the program may
	// end or stop here.
	void give_back(bool last)
	{
		for (int sig = 1; sig < signal_numbers; ++sig) {
			if (!taken[sig] || (sig == SIGCONT && !last))
				continue;
			(void)sigaction(sig, &found_actions[sig], nullptr);
			taken[sig] = false;
			if (noted[sig] && what(sig) == Taken::acts)
				(void)std::raise(sig);
		}
		(void)sigprocmask(SIG_SETMASK, last ? &found_mask : &let_in,
				  nullptr);
	}

	// Waits for a key, and takes it whole. Returns false when a signal
	// came first.
	bool wait()
	{
		std::array<unsigned char, 64> key;
		// From anything but a terminal one byte, so that a piped run
		// ends by itself.
		const std::size_t size = terminal ? key.size() : 1;
		while (!any_noted) {
			const int ready_now = ready(nullptr);
			if (ready_now < 0 && errno != EINTR)
				return true;
			if (ready_now <= 0)
				continue;
			// At a terminal in key mode the read cannot block: a
			// key that Ctrl-C flushed, or that another reader took,
			// sends the pause back to its wait.
			const ssize_t got = on_terminal([&] {
				return read(STDIN_FILENO, key.data(), size);
			});
			if (got > 0) {
				take_whole(key.data(), size, got);
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
		return stdin_ready(patience, &let_in);
	}

	// Calls on the terminal with the taken signals let in, as the wait
	// has them. One that comes is noted and cuts the call short with
	// EINTR.
	template <typename Call>
	auto on_terminal(Call call) const -> decltype(call())
	{
		(void)sigprocmask(SIG_SETMASK, &let_in, nullptr);
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
