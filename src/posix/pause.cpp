// The pause where no command processor runs one: what cmd.exe's pause does,
// done as a job-control shell expects of a program that reads the terminal.

#include "console.h"
#include "keys.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Drawn again from the start of its line, so that it never stands twice on
// one line.
constexpr char redrawn[] = "\rPress any key to continue . . . ";
constexpr const char *pause_text = redrawn + 1;

// The bytes of one key may come apart on a slow line by this much, as
// vim's ttimeoutlen has it: 100 ms.
constexpr timespec key_bytes_apart{0, 100'000'000};

// How often a waiting pause asks whether its job has the terminal: a shell
// that takes it back from a job that runs, or gives it, sends no signal.
// Soon enough that the pause seems to answer at once.
constexpr timespec terminal_check{0, 100'000'000};

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

// Whether what goes to the descriptor is taken to show on the key's
// terminal: it is that terminal, or a pipe or socket, whose reader is taken
// to show it there, as tee does.
bool shows_on_key_terminal(int fd)
{
	struct stat out;
	return on_key_terminal(fd) ||
	       (fstat(fd, &out) == 0 &&
		(S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode)));
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
	// Where the key is read and the text drawn again: the controlling
	// terminal opened again, non-blocking, so that no read of the pause's
	// waits and no one else's read is made not to. The program ends right
	// after the pause, and its end closes it.
	int fd = STDIN_FILENO;
	sigset_t found_mask, let_in, held;
	bool taken[signal_numbers] = {};
	// The settings the holder of the terminal left, and the key mode the
	// pause last set from them, which a later round does not take for the
	// holder's.
	termios holder{}, keys{};
	bool keys_set = false;
	// The text may have been written over: after a continue.
	bool redraw = false;
	// The text stands again on the terminal, after the line stdout ends.
	bool drawn = false;
	// The key's terminal is the controlling one, with job control.
	bool controlling = false;
	// No shell can give the job the terminal again.
	bool lost = false;
	// The process that started the program: its end tells that the job
	// has lost the terminal for good.
	const pid_t parent = getppid();

	Pause()
	{
		termios settings;
		terminal = tcgetattr(STDIN_FILENO, &settings) == 0;
		controlling = terminal && tcgetpgrp(STDIN_FILENO) >= 0;
		if (controlling) {
			const int own =
			    open("/dev/tty", O_RDWR | O_NONBLOCK | O_NOCTTY);
			if (own >= 0)
				fd = own;
		}
		// Going on cannot be held off, so SIGCONT is always let in:
		// the pause learns of every continue.
		sigset_t cont;
		(void)sigemptyset(&cont);
		(void)sigaddset(&cont, SIGCONT);
		(void)sigprocmask(SIG_UNBLOCK, &cont, &found_mask);
		(void)sigprocmask(SIG_SETMASK, nullptr, &let_in);
	}

	// Returns whether stdout may end the dialogue's line: not where it is
	// on a terminal the job has lost for good.
	bool run()
	{
		for (bool key = false; !key;) {
			take();
			redraw = redraw || noted[SIGCONT];
			for (auto &sig : noted)
				sig = 0;
			any_noted = 0;
			key = round();
			give_back(key);
		}
		if (drawn && !lost && !shows_on_key_terminal(STDOUT_FILENO)) {
			[[maybe_unused]] const ssize_t ended =
			    write(fd, "\n", 1);
		}
		return !lost || !on_key_terminal(STDOUT_FILENO);
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
		if (in_background())
			return background();
		termios found;
		const bool key_mode =
		    tcgetattr(fd, &found) == 0 && set_key_mode(found);
		if (key_mode && redraw && !any_noted)
			show_again();
		const bool key = wait();
		if (key_mode)
			put_back();
		return key || noted[SIGINT] || noted[SIGQUIT];
	}

	// The terminal is asked, not a signal that may be switched off. On a
	// terminal that is not the controlling one there is no job control,
	// and it is the program's; one that was, and no longer tells who holds
	// it, has been taken from the session, whose leader has gone.
	bool in_background() const
	{
		const pid_t holder_group = tcgetpgrp(fd);
		return holder_group < 0 ? controlling
					: holder_group != getpgrp();
	}

	// In the background the pause reads as cat does, and the terminal
	// answers as it answers cat: it stops the job by SIGTTIN, which acts
	// once the round has given the signals back; or, where SIGTTIN is
	// ignored or blocked or the job's group is orphaned, it refuses the
	// read. Where no shell can give the job the terminal again, the pause
	// ends, as cat's read does; until then it waits, and asks again.
	// Returns whether the pause ends.
	bool background()
	{
		// The session's leader has gone, and the terminal with it.
		if (tcgetpgrp(fd) < 0) {
			lost = true;
			return true;
		}
		unsigned char byte;
		const ssize_t got =
		    on_terminal([&] { return read(fd, &byte, 1); });
		// The terminal is the job's again, or hung up.
		if (got >= 0)
			return true;
		if (errno == EINTR || would_block())
			return false;
		if (errno != EIO)
			return true;
		if (can_be_given_back()) {
			(void)pselect(0, nullptr, nullptr, nullptr,
				      &terminal_check, &let_in);
			return false;
		}
		lost = true;
		return true;
	}

	// Where SIGTTIN would have stopped the job, the terminal refuses the
	// read only to a group that is orphaned, also where the process that
	// started the program had gone before the pause began. Elsewhere that
	// process must still be there.
	bool can_be_given_back() const
	{
		const bool could_stop =
		    taken[SIGTTIN] && sigismember(&let_in, SIGTTIN) == 0;
		return !could_stop && getppid() == parent;
	}

	// Sets key mode, made from the holder's settings, so that what was set
	// while the program was stopped stays: one key as it is typed, no line
	// editing, no echo, and Ctrl-S and Ctrl-Q are keys like any other, not
	// flow control. Ctrl-C, Ctrl-\ and Ctrl-Z still send their signals. A
	// read waits for a byte, so that key mode, wherever it is left behind,
	// never reads as the end of the input; the pause's own reads do not
	// wait. Keys become what the terminal then has.
	bool set_key_mode(const termios &found)
	{
		if (!keys_set || !same(found, keys))
			holder = found;
		keys = holder;
		keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
		keys.c_iflag &= ~static_cast<tcflag_t>(IXON);
		keys.c_cc[VMIN] = 1;
		keys.c_cc[VTIME] = 0;
		keys_set = on_terminal([&] {
				   return tcsetattr(fd, TCSANOW, &keys);
			   }) == 0 &&
			   tcgetattr(fd, &keys) == 0;
		return keys_set;
	}

	// The settings go back while the terminal still has the key mode the
	// pause set, also where it has been taken from the job (a shell that
	// hangs up takes it at once); settings someone has set since are left
	// alone. SIGTTOU is held off, so that the terminal lets the call
	// through from the background.
	void put_back() const
	{
		sigset_t quiet = held;
		(void)sigaddset(&quiet, SIGTTOU);
		(void)sigprocmask(SIG_SETMASK, &quiet, nullptr);
		termios now;
		if (tcgetattr(fd, &now) == 0 && same(now, keys))
			(void)tcsetattr(fd, TCSANOW, &holder);
		(void)sigprocmask(SIG_SETMASK, &held, nullptr);
	}

	// After a stop the shell has written over the text: it is drawn again
	// on the terminal the key comes from, whatever stdout is, where that
	// terminal takes it and it fits on a line. On a narrower one it would
	// add a line each time.
	void show_again()
	{
		redraw = false;
		if (!fits_on_a_line())
			return;
		const auto draw = [&] {
			return write(fd, redrawn, sizeof redrawn - 1);
		};
		if (on_terminal(draw) > 0)
			drawn = true;
	}

	bool fits_on_a_line() const
	{
#ifdef TIOCGWINSZ
		winsize size;
		return ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 ||
		       size.ws_col >= std::strlen(pause_text);
#else
		return true;
#endif
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
	// came first, or the job lost the terminal.
	bool wait()
	{
		std::array<unsigned char, 64> key;
		// From anything but a terminal one byte, so that a piped run
		// ends by itself.
		const std::size_t size = terminal ? key.size() : 1;
		while (!any_noted) {
			const int ready_now =
			    ready(terminal ? &terminal_check : nullptr);
			if (ready_now < 0 && errno != EINTR)
				return true;
			if (ready_now == 0 && in_background())
				return false;
			if (ready_now <= 0)
				continue;
			// A key that Ctrl-C flushed, or that another reader
			// took, sends the pause back to its wait.
			const ssize_t got = on_terminal(
			    [&] { return read(fd, key.data(), size); });
			if (got > 0) {
				take_whole(key.data(), size, got);
				return true;
			}
			// The job lost the terminal since the wait began; else
			// the end of the input, an error, or a terminal that
			// hung up, which reads as empty for ever.
			termios now;
			if (got < 0 && errno == EIO && in_background())
				return false;
			if (got < 0 ? errno != EINTR && !would_block()
				    : !terminal || tcgetattr(fd, &now))
				return true;
		}
		return false;
	}

	// Reads what else comes of a key whose bytes have come apart.
	void take_whole(unsigned char *key, std::size_t size, std::size_t got)
	{
		while (got < size && ends_inside_key(key, got) &&
		       ready(&key_bytes_apart) > 0) {
			const ssize_t more = on_terminal(
			    [&] { return read(fd, key + got, size - got); });
			if (more <= 0)
				return;
			got += static_cast<std::size_t>(more);
		}
	}

	// Waits for stdin with the taken signals let in: the terminal the key
	// is read from, readable as much through one descriptor as through
	// another. A signal that came before is held until here, so none comes
	// between a check and the wait.
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

// Stdin holds no key to wait for: it has ended or cannot be read, or it
// is a file, whose every byte is data.
bool no_key_can_come()
{
	struct stat status;
	return !input_open ||
	       (fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode));
}

} // namespace

// The text goes out with what stdout holds of the dialogue; the line end
// after the key, as the command processor writes it, on its own.
void wait_for_key()
{
	(void)std::fputs(pause_text, stdout);
	(void)std::fflush(stdout);
	if (no_key_can_come() || Pause().run()) {
		[[maybe_unused]] const ssize_t ended =
		    write(STDOUT_FILENO, "\n", 1);
	}
}
