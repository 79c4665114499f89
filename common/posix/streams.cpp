// Standard streams on a Unix system: UTF-8 written straight to the
// descriptors, and the closing wait, with the terminal in a mode of its own
// for as long as it lasts when the terminal is the program's to take.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
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
// background, setting a mode would stop the program until it is brought
// back, and would change the mode under the program in the foreground.
static bool InForeground(void)
{
	pid_t group = tcgetpgrp(STDIN_FILENO);

	return group != -1 && group == getpgrp();
}

static void PutModeBack(void)
{
	if (modeSet && InForeground())
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

// Ctrl-Z: the mode goes back while the program is stopped.
static void OnStop(int sig)
{
	int saved = errno;
	struct sigaction again = {};
	sigset_t stop;

	PutModeBack();
	signal(sig, SIG_DFL);
	raise(sig);
	sigemptyset(&stop);
	sigaddset(&stop, sig);
	// The stop happens here, and the program goes on here after SIGCONT.
	sigprocmask(SIG_UNBLOCK, &stop, NULL);
	again.sa_handler = OnStop;
	sigaction(sig, &again, NULL);
	errno = saved;
}

// Going on after any stop, also one that could not be caught and left the
// wait's mode for the shell to replace: the wait's mode is set again,
// once the program is in the foreground.
static void OnContinue(int sig)
{
	int saved = errno;

	(void)sig;
	if (InForeground()) {
		modeSet = 1;
		tcsetattr(STDIN_FILENO, TCSANOW, &waiting);
	}
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
	struct sigaction action = {};

	action.sa_handler = handler;
	sigemptyset(&action.sa_mask);
	if (sigaction(sig, &action, old) == 0 && old->sa_handler == SIG_IGN)
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

void StreamWaitForKey(void)
{
	static struct sigaction old[NSIG];
	sigset_t all, mask;

	// A pipe or a file: exactly one byte, the rest is the next reader's.
	if (tcgetattr(STDIN_FILENO, &before) != 0) {
		ReadOnce(1);
		return;
	}
	// A terminal that is not this program's to take (it runs in the
	// background, in another session, or under a pager that reads its
	// output): what one read gives in the mode the terminal is in, a whole
	// line in line mode, so that no rest of it is left for the shell.
	if (!InForeground() || !isatty(STDOUT_FILENO)) {
		ReadOnce(4096);
		return;
	}
	waiting = before;
	waiting.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
	waiting.c_cc[VMIN] = 1;
	waiting.c_cc[VTIME] = 0;
	for (int sig = 1; sig < NSIG; sig++)
		if (EndsByDefault(sig))
			Catch(sig, OnEndingSignal, &old[sig]);
	Catch(SIGTSTP, OnStop, &old[SIGTSTP]);
	Catch(SIGCONT, OnContinue, &old[SIGCONT]);
	modeSet = 1;
	tcsetattr(STDIN_FILENO, TCSANOW, &waiting);
	ReadOnce(4096);
	// Nothing may set the mode again once it is back.
	sigfillset(&all);
	sigprocmask(SIG_BLOCK, &all, &mask);
	// The rest of a pasted word, of an arrow key's sequence or of a line
	// typed ahead is not left for the next program to read.
	if (InForeground())
		tcflush(STDIN_FILENO, TCIFLUSH);
	PutModeBack();
	for (int sig = 1; sig < NSIG; sig++)
		if (EndsByDefault(sig) || sig == SIGTSTP || sig == SIGCONT)
			sigaction(sig, &old[sig], NULL);
	sigprocmask(SIG_SETMASK, &mask, NULL);
}
