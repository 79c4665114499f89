// The closing wait on a terminal of the test's own: one key ends it,
// without Enter and without echo; nothing typed reaches the next reader of
// the terminal; every way out leaves the terminal's mode as it was.
#include <csignal>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
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
// is what the wait echoes. A wait that takes the terminal is seen to begin
// when its mode is on; for one that does not, a row may name what the
// terminal shows by then, else the read is given a moment to begin.
TEST(KeyWait, OnATerminalOneKeyAndTheModeAsItWas)
{
	const struct {
		std::string what, keys;
		int send, ended; // a signal sent once the wait began; the one that ends it
		std::string command = "exec \"$0\""; // bash's, "$0" the program
		bool takes = true;
		int status = 0;
		std::string echo = "", ready = "";
		int pieces = 1; // keys sent so many times, 2 ms apart
	} cases[] = {
		{"a key", "x", 0, 0},
		{"a pasted word and a line", "xecho hi\n", 0, 0},
		{"an arrow key", "\x1b[A", 0, 0},
		{"a paste that goes on arriving", "echo " + std::string(800, 'p') + "\n", 0, 0, "exec \"$0\"", true, 0,
		 "", "", 25},
		{"Ctrl-C", "\x03", 0, SIGINT},
		// Started with Ctrl-C ignored, it stays so.
		{"Ctrl-C ignored", "\x03x", 0, 0, "trap '' INT; exec \"$0\""},
		{"TERM", "", SIGTERM, SIGTERM},
		{"a hang-up", "", SIGHUP, SIGHUP},
		{"USR1", "", SIGUSR1, SIGUSR1},
		// Meanwhile the shell puts its own mode on, as after Ctrl-Z.
		{"a stop that cannot be caught, and fg", "x", SIGSTOP, 0},
		// Shells that keep no mode of their own: bg gives the mode back (there
		// the read stops it), unless the shell has set one of its own since.
		{"a stop that cannot be caught, bg and HUP", "", SIGSTOP, 0,
		 "exec busybox sh -c 'set -m; \"$0\"; bg >/dev/null; p=$(jobs -p %1); "
		 "until [ \"$(cut -d\" \" -f3 /proc/$p/stat)\" = T ]; do sleep 0.01; done; "
		 "stty -a | grep -q \" echo \" && kill -HUP %1 && fg >/dev/null' \"$0\"", true, 128 + SIGHUP},
		{"a stop that cannot be caught, a mode of the shell's, bg and TERM", "", SIGSTOP, 0,
		 "exec dash -c 'set -m; \"$0\"; stty icanon; bg >/dev/null; kill %1; fg >/dev/null; s=$?; "
		 "stty -a | grep -q \" -echo \" && stty echo && exit $s' \"$0\"", true, 128 + SIGTERM},
		// With MIN 0 a read would not wait.
		{"MIN 0 left by an earlier program", "x", 0, 0, "stty min 0; \"$0\"; s=$?; stty min 1; exit $s"},
		{"a non-blocking terminal", "x", 0, 0,
		 "perl -MFcntl -e 'fcntl STDIN, F_SETFL, O_NONBLOCK' && exec \"$0\""},
		// A pager that reads the output sets its mode after the wait began,
		// shows its prompt, and puts back the mode it found when it ends.
		{"a pager's mode", "x", 0, 0,
		 "\"$0\" | { sleep 0.2; m=$(stty -g </dev/tty); stty -icanon -echo </dev/tty; "
		 "printf '(END)' >/dev/tty; cat >/dev/null; stty \"$m\" </dev/tty; }",
		 false, 0, "", "(END)"},
		// Not the program's terminal to take: a whole line, echoed.
		{"in another session", "xy\n", 0, 0, "exec setsid -w \"$0\"", false, 0, "xy\r\n"},
		{"output to another terminal", "xy\n", 0, 0, "exec \"$0\" >/dev/ptmx", false, 0, "xy\r\n"},
		{"output to the same terminal by another name", "x", 0, 0, "exec \"$0\" >/dev/tty"},
		// Brought to the foreground while its read stops it there: then one key.
		{"a background job, then fg", "x", 0, 0,
		 "exec 2>&1; set -m; \"$0\" 2>/dev/null & until [ \"$(cut -d' ' -f3 /proc/$!/stat)\" = T ]; "
		 "do sleep 0.01; done; fg >/dev/null"},
		// A job of its own, stopped by its read as cat is, and killed there
		// as kill %1 kills a stopped job; job control off again, so that the
		// shell's wait sees the end.
		{"a background job killed", "", 0, 0,
		 "set -m; \"$0\" & set +m; until [ \"$(cut -d' ' -f3 /proc/$!/stat)\" = T ]; do sleep 0.01; done; "
		 "kill $!; kill -CONT $!; wait $!",
		 false, 128 + SIGTERM},
		// The same after Ctrl-Z and a continue in the background (bg, but
		// with job control off, so that the shell does not report the next
		// stop too): the mode back once, and never set from the background.
		// Job control needs bash's standard error on the terminal, which
		// shows the stop.
		{"Ctrl-Z, bg and kill", "\x1a", 0, 0,
		 "exec 2>&1; set -m; \"$0\" 2>/dev/null; p=$(jobs -p); set +m; exec 2>/dev/null; kill -CONT %1; "
		 "until [ \"$(cut -d' ' -f3 /proc/$p/stat)\" = T ]; do sleep 0.01; done; kill $p; kill -CONT $p; wait $p",
		 true, 128 + SIGTERM},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		Terminal t;
		int raw = 0;
		ASSERT_TRUE(StartOnTerminal(&t, {"/bin/bash", "-c", "export SCRIPT=; exec 2>/dev/null; " + c.command,
		                                 TASKROLL_SCRIPTED}));
		if (c.takes) {
			ASSERT_TRUE(WaitForMode(t, ICANON | ECHO, 0, 20)) << "the wait never began";
		} else if (!c.ready.empty()) {
			ASSERT_NE(ReadTerminal(t, c.ready, 20).find(c.ready), std::string::npos);
		} else {
			usleep(300000);
		}
		pid_t group = tcgetpgrp(t.master);
		if (c.send != 0 && group > 1)
			kill(-group, c.send); // the program, also where it is a shell's job
		// Unless the row's shell goes on after the stop, the test plays bash's fg.
		if (c.send == SIGSTOP && c.status == 0) {
			for (int i = 0; i < 2000 && waitpid(t.pid, &raw, WNOHANG | WUNTRACED) == 0; i++)
				usleep(10000);
			tcsetattr(t.slave, TCSANOW, &t.initial);
			kill(t.pid, SIGCONT);
			EXPECT_TRUE(WaitForMode(t, ICANON | ECHO, 0, 20)) << "not set again";
		}
		for (int i = 0; i < c.pieces; i++, usleep(2000))
			EXPECT_EQ(write(t.master, c.keys.data(), c.keys.size()), (ssize_t)c.keys.size());
		EXPECT_TRUE(WaitForEnd(&t, 20)) << "the wait did not end";
		EXPECT_EQ(t.signal, c.ended);
		EXPECT_EQ(t.status, c.ended == 0 ? c.status : -1);
		EXPECT_TRUE(SameMode(ModeOf(t), t.initial));
		EXPECT_EQ(Unread(t), 0) << "typed text left for the next reader";
		// bash's report of the stopped job is the shell's, where a bash
		// makes one (5.1 does, 5.2 not always).
		std::string echoed = ReadTerminal(t, "", 0.2);
		size_t job = echoed.find("\r\n[1]+  Stopped ");
		if (job != std::string::npos)
			echoed.erase(job, echoed.find("\r\n", job + 2) + 2 - job);
		EXPECT_EQ(echoed, c.echo) << "echoed";
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
