#include "run.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static double Now()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

RunResult RunProgram(const std::vector<std::string> &argv, const RunOptions &options)
{
	const std::string &input = options.input;
	const bool outputGone = options.outputGone;
	RunResult r;
	int in[2], out[2], err[2];
	if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
		return r;
	if (outputGone) {
		close(out[0]);
		out[0] = -1;
	}

	std::vector<char *> args, env;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	for (char **e = environ; *e; e++)
		env.push_back(*e);
	for (const std::string &e : options.env)
		env.push_back(const_cast<char *>(e.c_str()));
	args.push_back(nullptr);
	env.push_back(nullptr);

	pid_t pid = fork();
	if (pid == 0) {
		signal(SIGPIPE, SIG_DFL);
		dup2(in[0], 0);
		dup2(out[1], 1);
		dup2(err[1], 2);
		execve(args[0], args.data(), env.data());
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	close(err[1]);
	signal(SIGPIPE, SIG_IGN);
	if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
		r.err = "cannot write input";
	if (!options.holdInput) {
		close(in[1]);
		in[1] = -1;
	}

	double deadline = Now() + options.timeoutSeconds;
	pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
	int open = outputGone ? 1 : 2;
	while (open > 0) {
		int left = (int)((deadline - Now()) * 1000);
		if (left <= 0) {
			r.timedOut = true;
			break;
		}
		if (poll(fds, 2, left) < 0 && errno != EINTR)
			break;
		for (pollfd &p : fds) {
			if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
				continue;
			char buf[65536];
			ssize_t n = read(p.fd, buf, sizeof buf);
			if (n > 0) {
				(p.fd == out[0] ? r.out : r.err).append(buf, n);
			} else {
				close(p.fd);
				p.fd = -1;
				open--;
			}
		}
	}
	for (pollfd &p : fds)
		if (p.fd >= 0)
			close(p.fd);
	if (in[1] >= 0)
		close(in[1]);

	// Output closed, but the program may still wait on its input.
	int ws = 0;
	while (!r.timedOut && waitpid(pid, &ws, WNOHANG) != pid) {
		r.timedOut = Now() >= deadline;
		usleep(2000);
	}
	if (r.timedOut) {
		kill(pid, SIGKILL);
		waitpid(pid, &ws, 0);
	}
	if (WIFEXITED(ws))
		r.status = WEXITSTATUS(ws);
	else if (WIFSIGNALED(ws))
		r.signal = WTERMSIG(ws);
	return r;
}

Background StartBackground(const std::vector<std::string> &argv, bool (*prepare)())
{
	Background b;
	int in[2], out[2];
	if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC))
		return b;
	std::vector<char *> args;
	for (const std::string &a : argv)
		args.push_back(const_cast<char *>(a.c_str()));
	args.push_back(nullptr);
	b.pid = fork();
	if (b.pid == 0) {
		dup2(in[0], 0);
		dup2(out[1], 1);
		if (prepare != nullptr && !prepare())
			_exit(125);
		execv(args[0], args.data());
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	b.in = in[1];
	b.out = out[0];
	signal(SIGPIPE, SIG_IGN);
	return b;
}

std::string ReadUntil(const Background &b, const std::string &text)
{
	std::string got;
	for (int waited = 0; got.find(text) == std::string::npos && waited < 600; waited++) {
		pollfd p = {b.out, POLLIN, 0};
		char buf[4096];
		ssize_t n;
		if (poll(&p, 1, 100) > 0 && (n = read(b.out, buf, sizeof buf)) > 0)
			got.append(buf, n);
		else if (p.revents & POLLHUP)
			break;
	}
	return got;
}

bool Ended(Background &b)
{
	int ws;
	if (b.pid > 0 && waitpid(b.pid, &ws, WNOHANG) == b.pid) {
		b.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
		b.pid = -1;
	}
	return b.pid <= 0;
}

int Finish(Background &b, std::string *rest)
{
	close(b.in);
	for (int waited = 0; waited < 3000 && !Ended(b); waited++)
		usleep(10000);
	if (b.pid > 0) {
		kill(b.pid, SIGKILL);
		waitpid(b.pid, nullptr, 0);
		b.pid = -1;
	}
	if (rest != nullptr)
		*rest = ReadUntil(b, std::string(1, '\0'));
	close(b.out);
	return b.status;
}

RunResult Shell(const std::string &command)
{
	return RunProgram({"/bin/sh", "-c", command}, {.timeoutSeconds = 120});
}

std::string Quote(const std::string &s)
{
	std::string q = "'";
	for (char c : s) {
		if (c == '\'')
			q += "'\\''";
		else
			q += c;
	}
	return q + "'";
}
