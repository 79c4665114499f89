// Standard streams on a Unix system: UTF-8 written straight to the
// descriptors, and the closing wait with the terminal in a mode of its own
// for as long as it lasts.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

// No signal is caught while output is written, so no write is interrupted;
// a file that reaches its size limit takes part of one, and refuses the
// rest with the next.
static DWORD WriteAll(int fd, const char *bytes, size_t size)
{
	while (size > 0) {
		ssize_t n = write(fd, bytes, size);

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
bool StreamReaderGone(DWORD code)
{
	(void)code;
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

void StreamEnd(UINT status)
{
	_exit((int)status);
}

// The terminal's mode before the wait, and the wait's own: no line
// editing, no echo, one byte at a time; the signal keys still work.
static struct termios before, waiting;

static const int endingSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
enum { EndingSignals = sizeof endingSignals / sizeof endingSignals[0] };

// Ctrl-C, a hang-up, TERM: the mode goes back, then the signal does what
// it would have done. It is blocked while this runs and arrives again on
// return, now at its default.
static void OnEndingSignal(int sig)
{
	int saved = errno;

	tcsetattr(STDIN_FILENO, TCSANOW, &before);
	signal(sig, SIG_DFL);
	raise(sig);
	errno = saved;
}

// Ctrl-Z: the mode goes back while the program is stopped, and the wait's
// mode is set again when it goes on.
static void OnStop(int sig)
{
	int saved = errno;
	struct sigaction again = {};
	sigset_t stop;

	tcsetattr(STDIN_FILENO, TCSANOW, &before);
	signal(sig, SIG_DFL);
	raise(sig);
	sigemptyset(&stop);
	sigaddset(&stop, sig);
	// The stop happens here, and the program goes on here after SIGCONT.
	sigprocmask(SIG_UNBLOCK, &stop, NULL);
	again.sa_handler = OnStop;
	sigaction(sig, &again, NULL);
	tcsetattr(STDIN_FILENO, TCSANOW, &waiting);
	errno = saved;
}

// Takes sig over unless it is ignored (a program started with nohup, or
// in the background by a shell without job control), keeping what was.
static void Catch(int sig, void (*handler)(int), struct sigaction *old)
{
	struct sigaction action = {};

	action.sa_handler = handler;
	sigemptyset(&action.sa_mask);
	sigaction(sig, &action, old);
	if (old->sa_handler == SIG_IGN)
		sigaction(sig, old, NULL);
}

static void ReadOneByte(void)
{
	char c;

	while (read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR)
		;
}

void StreamWaitForKey(void)
{
	struct sigaction old[EndingSignals + 1];

	if (tcgetattr(STDIN_FILENO, &before) != 0) {
		ReadOneByte();
		return;
	}
	waiting = before;
	waiting.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
	waiting.c_cc[VMIN] = 1;
	waiting.c_cc[VTIME] = 0;
	for (int i = 0; i < EndingSignals; i++)
		Catch(endingSignals[i], OnEndingSignal, &old[i]);
	Catch(SIGTSTP, OnStop, &old[EndingSignals]);
	tcsetattr(STDIN_FILENO, TCSANOW, &waiting);
	ReadOneByte();
	// The rest of a pasted word, of an arrow key's sequence or of a line
	// typed ahead is not left for the next program to read.
	tcflush(STDIN_FILENO, TCIFLUSH);
	tcsetattr(STDIN_FILENO, TCSANOW, &before);
	for (int i = 0; i < EndingSignals; i++)
		sigaction(endingSignals[i], &old[i], NULL);
	sigaction(SIGTSTP, &old[EndingSignals], NULL);
}
