// The closing wait on a terminal of the test's own: one key ends it,
// without Enter and without echo; nothing typed reaches the next reader of
// the terminal; every way out leaves the terminal's mode as it was.
#include <csignal>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "terminal.h"

static bool SameMode(const termios &a, const termios &b)
{
	return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
	       a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

static int Unread(const Terminal &t)
{
	int n = -1;
	ioctl(t.slave, FIONREAD, &n);
	return n;
}

// taskroll prints nothing when the enumeration works (its scripted
// services log on standard error, here sent away): all the terminal shows
// is what the wait echoes.
TEST(KeyWait, OnATerminalOneKeyAndTheModeAsItWas)
{
	const struct {
		const char *what, *keys;
		int signal;
		std::string before = ""; // shell commands before the program
	} cases[] = {
		{"a key", "x", 0},
		{"a pasted word and a line", "xecho hi\n", 0},
		{"an arrow key", "\x1b[A", 0},
		{"Ctrl-C", "\x03", SIGINT},
		// Started with Ctrl-C ignored, it stays so.
		{"Ctrl-C ignored", "\x03x", 0, "trap '' INT; "},
		{"TERM", "", SIGTERM},
		{"a hang-up", "", SIGHUP},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		Terminal t;
		ASSERT_TRUE(StartOnTerminal(&t, {"/bin/sh", "-c",
		                                 c.before + "SCRIPT= exec \"$0\" 2>/dev/null",
		                                 TASKROLL_SCRIPTED}));
		ASSERT_TRUE(WaitForMode(t, ICANON | ECHO, 0, 20)) << "the wait never began";
		if (c.keys[0] != 0)
			EXPECT_EQ(write(t.master, c.keys, strlen(c.keys)), (ssize_t)strlen(c.keys));
		else
			kill(t.pid, c.signal);
		EXPECT_TRUE(WaitForEnd(&t, 20)) << "the wait did not end";
		EXPECT_EQ(t.signal, c.signal);
		EXPECT_EQ(t.status, c.signal == 0 ? 0 : -1);
		EXPECT_TRUE(SameMode(ModeOf(t), t.initial));
		EXPECT_EQ(Unread(t), 0) << "typed text left for the next reader";
		EXPECT_EQ(ReadTerminal(t, "", 0.2), "") << "echoed";
		CloseTerminal(&t);
	}
}

// Ctrl-Z and fg under a shell with job control: stopped, the terminal is
// as it was (stty -g before, while stopped and after); continued, the wait
// goes on in its own mode again, and a key still ends it.
TEST(KeyWait, StopAndContinue)
{
	Terminal t;
	ASSERT_TRUE(StartOnTerminal(&t, {"/bin/bash", "-c",
	                                 "set -m; stty -g; SCRIPT= \"$0\" 2>/dev/null; stty -g; fg; stty -g",
	                                 TASKROLL_SCRIPTED}));
	ASSERT_TRUE(WaitForMode(t, ICANON | ECHO, 0, 20)) << "the wait never began";
	EXPECT_EQ(write(t.master, "\x1a", 1), 1);
	// The shell's fg follows the stop at once: the mode while stopped is
	// the one stty printed.
	std::string out = ReadTerminal(t, "Stopped", 20);
	ASSERT_TRUE(WaitForMode(t, ICANON | ECHO, 0, 20)) << "not set again after fg";
	EXPECT_EQ(write(t.master, "x", 1), 1);
	EXPECT_TRUE(WaitForEnd(&t, 20));
	EXPECT_EQ(t.status, 0);
	out += ReadTerminal(t, "", 0.5);
	CloseTerminal(&t);
	// The three modes stty printed, each a line of hexadecimal fields.
	std::vector<std::string> modes;
	for (size_t at = 0, end; (end = out.find("\r\n", at)) != std::string::npos; at = end + 2) {
		std::string line = out.substr(at, end - at);
		if (line.size() > 30 && line.find_first_not_of("0123456789abcdef:") == std::string::npos)
			modes.push_back(line);
	}
	ASSERT_EQ(modes.size(), 3u) << out;
	EXPECT_EQ(modes[1], modes[0]);
	EXPECT_EQ(modes[2], modes[0]);
}
