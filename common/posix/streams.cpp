// Standard streams on a Unix system: UTF-8 written straight to the
// descriptors, and the closing wait, with the terminal in a mode of its own
// for as long as it lasts when the terminal is the program's to take.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "../streams.h"
#include "../utf.h"

DWORD StreamOutputKind(OutputKind *kind)
{
	if (fcntl(STDOUT_FILENO, F_GETFL) < 0)
		return (DWORD)errno;
	*kind = OutputUtf8;
	return 0;
}

// Waits until fd is ready for events, in non-blocking mode; false when it
// cannot be waited on. A signal ends the wait early.
static bool AwaitReady(int fd, short events)
{
	struct pollfd ready = {fd, events, 0};

	return poll(&ready, 1, -1) >= 0 || errno == EINTR;
}

// No signal is caught while output is written, so no write is interrupted;
// a file that reaches its size limit takes part of one, and refuses the
// rest with the next. A descriptor in non-blocking mode (shared with a
// program that set it) is waited on, so that a slow reader gets it all.
static DWORD WriteAll(int fd, const char *bytes, size_t size)
{
	while (size > 0) {
		ssize_t n = write(fd, bytes, size);

		if (n < 0 && errno == EAGAIN && AwaitReady(fd, POLLOUT))
			continue;
		if (n <= 0)
			return n < 0 ? (DWORD)errno : (DWORD)EIO;
		bytes += n;
		size -= (size_t)n;
	}
	return 0;
}

DWORD StreamWrite(const void *data, size_t size)
{
	return WriteAll(STDOUT_FILENO, (const char *)data, size);
}

// A reader that has gone ends the program by SIGPIPE before any write can
// fail; where SIGPIPE is ignored, EPIPE is a failure like any other.
bool StreamReaderGone(DWORD /*code*/)
{
	return false;
}

void StreamWriteError(const WCHAR *line, size_t length)
{
	char bytes[4096];
	size_t used;

	while (length > 0) {
		size_t n = Utf16ToUtf8(line, length, bytes, sizeof bytes, &used);
		if (WriteAll(STDERR_FILENO, bytes, n) != 0)
			return;
		line += used;
		length -= used;
	}
}

void EndProcessNow(UINT status)
{
	_exit((int)status);
}

// The terminal's mode before the wait, and the wait's own: no line
// editing, no echo, one byte at a time; the signal keys still work.
static struct termios before, waiting;

// Whether the wait's mode is on the terminal, put there by the wait: only
// then does a signal put the mode before it back.
static volatile sig_atomic_t modeSet;

// Whether this program is in the terminal's foreground. From the
// background, setting a mode would change it under the program in the
// foreground, and reading would stop this one.
static bool InForeground(void)
{
	pid_t group = tcgetpgrp(STDIN_FILENO);

	return group != -1 && group == getpgrp();
}

static bool SameMode(const struct termios *a, const struct termios *b)
{
	return a->c_iflag == b->c_iflag && a->c_oflag == b->c_oflag && a->c_cflag == b->c_cflag &&
	       a->c_lflag == b->c_lflag && memcmp(a->c_cc, b->c_cc, sizeof a->c_cc) == 0;
}

// Takes the terminal for the wait; a first take, or one after the mode went
// back, keeps the mode the terminal has now to put back.
static void SetWaitMode(void)
{
	if (!modeSet) {
		if (tcgetattr(STDIN_FILENO, &before) != 0)
			return;
		waiting = before;
		waiting.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
		waiting.c_cc[VMIN] = 1;
		waiting.c_cc[VTIME] = 0;
	}
	modeSet = 1;
	tcsetattr(STDIN_FILENO, TCSANOW, &waiting);
}

// The mode before the wait goes back, from the background too, but only
// while the wait's mode is still on: a program in the foreground that has
// set a mode of its own since (an editor) keeps it. Every caller has
// SIGTTOU blocked (a handler, or the end of the wait), without which a
// change from the background would stop this program.
static void PutModeBack(void)
{
	struct termios now;

	if (modeSet && tcgetattr(STDIN_FILENO, &now) == 0 && SameMode(&now, &waiting))
		tcsetattr(STDIN_FILENO, TCSANOW, &before);
	modeSet = 0;
}

// Any signal that would end the program: the mode goes back, then the
// signal does what it would have done. It is blocked while this runs and
// arrives again on return, now at its default.
static void OnEndingSignal(int sig)
{
	int saved = errno;

	PutModeBack();
	signal(sig, SIG_DFL);
	raise(sig);
	errno = saved;
}

// A handler that runs with every signal blocked, so that no other one
// comes between its reading and its setting of the mode; false when sig
// cannot be caught.
static bool Handle(int sig, void (*handler)(int), struct sigaction *old)
{
	struct sigaction action = {};

	action.sa_handler = handler;
	sigfillset(&action.sa_mask);
	return sigaction(sig, &action, old) == 0;
}

// Ctrl-Z: the mode goes back while the program is stopped.
static void OnStop(int sig)
{
	int saved = errno;
	sigset_t stop;

	PutModeBack();
	signal(sig, SIG_DFL);
	raise(sig);
	sigemptyset(&stop);
	sigaddset(&stop, sig);
	// The stop happens here, and the program goes on here after SIGCONT.
	sigprocmask(SIG_UNBLOCK, &stop, NULL);
	Handle(sig, OnStop, NULL);
	errno = saved;
}

// Going on after any stop, and when the job control of a shell moves the
// program (fg, bg): in the foreground the wait takes the terminal, also
// after a stop that could not be caught and left the wait's mode for the
// shell to replace, and also when it began in the background; in the
// background it gives the terminal back as it found it. The read under
// way is interrupted, and starts again in the mode set here.
static void OnContinue(int sig)
{
	int saved = errno;

	(void)sig;
	if (InForeground())
		SetWaitMode();
	else
		PutModeBack();
	errno = saved;
}

// Whether sig ends the program by default, and can be caught. The others
// are ignored by default, or stop the program; SIGTSTP and SIGCONT have
// handlers of their own.
static bool EndsByDefault(int sig)
{
	switch (sig) {
	case SIGKILL: case SIGSTOP: case SIGTSTP: case SIGTTIN: case SIGTTOU:
	case SIGCONT: case SIGCHLD: case SIGURG: case SIGWINCH:
		return false;
	default:
		return true;
	}
}

// Takes sig over unless it is ignored (a program started with nohup, or
// in the background by a shell without job control), keeping what was.
static void Catch(int sig, void (*handler)(int), struct sigaction *old)
{
	if (Handle(sig, handler, old) && old->sa_handler == SIG_IGN)
		sigaction(sig, old, NULL);
}

// One read of up to size bytes, however long it takes.
static void ReadOnce(size_t size)
{
	char bytes[4096];

	while (read(STDIN_FILENO, bytes, size < sizeof bytes ? size : sizeof bytes) < 0) {
		if (errno == EAGAIN ? !AwaitReady(STDIN_FILENO, POLLIN) : errno != EINTR)
			return;
	}
}

// The device of the terminal at fd, also where it is reached by another
// name (/dev/tty), as the kernel numbers it; 0 for anything else.
static dev_t TerminalDevice(int fd)
{
	unsigned int device;
	struct stat file;

	if (!isatty(fd))
		return 0;
	if (ioctl(fd, TIOCGDEV, &device) == 0)
		return (dev_t)device;
	return fstat(fd, &file) == 0 ? file.st_rdev : 0;
}

// Whether standard output is the terminal standard input is (the same
// device), which is then the terminal the table went to.
static bool OutputOnInput(void)
{
	dev_t in = TerminalDevice(STDIN_FILENO);

	return in != 0 && in == TerminalDevice(STDOUT_FILENO);
}

enum {
	QuietMs = 50,            // a pause this long ends a paste
	DiscardMs = 1500,        // at most this long...
	DiscardBytes = 1 << 20   // ...and this much for a terminal that never pauses
};

static long MsSince(const struct timespec *start)
{
	struct timespec now;

	clock_gettime(CLOCK_MONOTONIC, &now);
	return (now.tv_sec - start->tv_sec) * 1000 + (now.tv_nsec - start->tv_nsec) / 1000000;
}

// What follows the key is not left for the next program to read: the rest
// of a pasted word, of an arrow key's sequence or of a line typed ahead,
// and a paste that goes on arriving after the key, thrown away for as long
// as it comes without a pause. Runs with every signal blocked; stops when
// the program is no longer in the foreground, whose input it then is not.
static void DiscardTyped(void)
{
	struct pollfd input = {STDIN_FILENO, POLLIN, 0};
	struct timespec start;
	size_t thrown = 0;
	int queued;

	clock_gettime(CLOCK_MONOTONIC, &start);
	do {
		if (!InForeground())
			return;
		queued = 0;
		ioctl(STDIN_FILENO, FIONREAD, &queued);
		thrown += queued > 0 ? (size_t)queued : 0;
		tcflush(STDIN_FILENO, TCIFLUSH);
	} while (thrown < DiscardBytes && MsSince(&start) < DiscardMs && poll(&input, 1, QuietMs) > 0 &&
	         input.revents == POLLIN);
}

void StreamWaitForKey(void)
{
	static struct sigaction old[NSIG];
	sigset_t all, mask;

	// A pipe or a file: exactly one byte, the rest is the next reader's.
	if (tcgetattr(STDIN_FILENO, &before) != 0) {
		ReadOnce(1);
		return;
	}
	// A terminal that is never this program's to take (the table went
	// elsewhere: to a pager, a file, another terminal; or it is another
	// session's): what one read gives in the mode the terminal is in, a
	// whole line in line mode, so that no rest of it is left for the shell.
	if (!OutputOnInput() || tcgetpgrp(STDIN_FILENO) == -1) {
		ReadOnce(4096);
		return;
	}
	// In the background, until job control brings it to the foreground
	// (OnContinue), the read is that of any other terminal, and stops the
	// program as cat is stopped.
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &mask);
	for (int sig = 1; sig < NSIG; sig++)
		if (EndsByDefault(sig))
			Catch(sig, OnEndingSignal, &old[sig]);
	Catch(SIGTSTP, OnStop, &old[SIGTSTP]);
	Catch(SIGCONT, OnContinue, &old[SIGCONT]);
	if (InForeground())
		SetWaitMode();
	sigprocmask(SIG_SETMASK, &mask, NULL);
	ReadOnce(4096);
	// Nothing may set the mode again once it is back.
	sigprocmask(SIG_BLOCK, &all, NULL);
	if (modeSet)
		DiscardTyped();
	PutModeBack();
	for (int sig = 1; sig < NSIG; sig++)
		if (EndsByDefault(sig) || sig == SIGTSTP || sig == SIGCONT)
			sigaction(sig, &old[sig], NULL);
	sigprocmask(SIG_SETMASK, &mask, NULL);
}
