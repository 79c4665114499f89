// A program on a pseudo-terminal of the test's own, as a shell starts one
// there: in a session of its own, the terminal its controlling terminal
// and its three standard streams. The test holds the master and a second
// slave descriptor, so that the terminal, its mode and its input queue
// outlive the program.
#ifndef TEST_TERMINAL_H
#define TEST_TERMINAL_H

#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

struct Terminal {
	pid_t pid = -1;
	int master = -1, slave = -1;
	int status = -1, signal = 0; // how it ended, once it has
	termios initial = {};         // the mode before the program started
};

// Starts argv[0] on a new terminal; false, with nothing left open, when
// no terminal can be had.
bool StartOnTerminal(Terminal *t, const std::vector<std::string> &argv);

// The terminal's mode as the program sees it.
termios ModeOf(const Terminal &t);

// Waits up to seconds until the mode's local flags hold lflag among mask.
bool WaitForMode(const Terminal &t, tcflag_t mask, tcflag_t lflag, double seconds);

// What the terminal has written, until it holds text or seconds pass.
std::string ReadTerminal(const Terminal &t, const std::string &text, double seconds);

// Waits up to seconds for the program to end and keeps how it ended; one
// still running then is killed (false). The terminal stays open.
bool WaitForEnd(Terminal *t, double seconds);

// Kills the program if it still runs, and closes the terminal: whatever
// else runs on it gets its hang-up.
void CloseTerminal(Terminal *t);

#endif
