#include "terminal.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

static double Now()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

bool StartOnTerminal(Terminal *t, const std::vector<std::string> &argv)
{
	int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
		if (master >= 0)
			close(master);
		return false;
	}
	std::string name = ptsname(master);
	std::vector<char *> args;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);
	t->master = master;
	t->slave = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (t->slave >= 0)
		tcgetattr(t->slave, &t->initial);
	t->pid = t->slave < 0 ? -1 : fork();
	if (t->pid == 0) {
		sigset_t none;
		sigemptyset(&none);
		sigprocmask(SIG_SETMASK, &none, nullptr);
		for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTSTP, SIGPIPE})
			signal(sig, SIG_DFL);
		// A session leader's first terminal becomes its controlling one.
		int fd = setsid() < 0 ? -1 : open(name.c_str(), O_RDWR);
		if (fd < 0 || dup2(fd, 0) < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0)
			_exit(125);
		execv(args[0], args.data());
		_exit(127);
	}
	if (t->pid < 0) {
		CloseTerminal(t);
		return false;
	}
	fcntl(master, F_SETFL, O_NONBLOCK);
	return true;
}

termios ModeOf(const Terminal &t)
{
	termios mode = {};
	tcgetattr(t.slave, &mode);
	return mode;
}

bool WaitForMode(const Terminal &t, tcflag_t mask, tcflag_t lflag, double seconds)
{
	for (double end = Now() + seconds; Now() < end; usleep(10000))
		if ((ModeOf(t).c_lflag & mask) == lflag)
			return true;
	return false;
}

std::string ReadTerminal(const Terminal &t, const std::string &text, double seconds)
{
	std::string got;
	for (double end = Now() + seconds; Now() < end;) {
		if (!text.empty() && got.find(text) != std::string::npos)
			break;
		pollfd p = {t.master, POLLIN, 0};
		if (poll(&p, 1, 20) <= 0)
			continue;
		char buf[4096];
		ssize_t n = read(t.master, buf, sizeof buf);
		if (n <= 0)
			break;
		got.append(buf, (size_t)n);
	}
	return got;
}

bool WaitForEnd(Terminal *t, double seconds)
{
	int raw = 0;
	bool ended = false;

	for (double end = Now() + seconds; t->pid > 0 && !ended; usleep(10000)) {
		ended = waitpid(t->pid, &raw, WNOHANG) == t->pid;
		if (!ended && Now() >= end) {
			kill(t->pid, SIGKILL);
			waitpid(t->pid, &raw, 0);
			t->pid = -1;
			return false;
		}
	}
	if (ended) {
		t->status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
		t->signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
		t->pid = -1;
	}
	return ended;
}

void CloseTerminal(Terminal *t)
{
	if (t->pid > 0)
		WaitForEnd(t, 0);
	for (int *fd : {&t->slave, &t->master})
		if (*fd >= 0)
			close(*fd);
	t->master = t->slave = -1;
}
