// Running a program under test as a child: its exact output bytes, its
// standard error and how it ended.
#ifndef TEST_RUN_H
#define TEST_RUN_H

#include <string>
#include <sys/types.h>
#include <vector>

struct RunResult {
	std::string out;    // standard output, byte for byte
	std::string err;    // standard error
	int status = -1;    // exit status, or -1 when it did not exit
	int signal = 0;     // the signal that ended it, or 0
	bool timedOut = false;
};

// How a program is run: input is written to its standard input, which is
// then closed; with holdInput the input stays open, so that a program that
// reads it keeps waiting until the timeout, when it is killed. env holds
// "NAME=value" strings added to the environment. With outputGone standard
// output is a pipe whose reader has already gone.
struct RunOptions {
	std::string input = "";
	bool holdInput = false;
	double timeoutSeconds = 20;
	std::vector<std::string> env = {};
	bool outputGone = false;
};

// Runs argv[0] with the given arguments, SIGPIPE at its default whatever
// this process does.
RunResult RunProgram(const std::vector<std::string> &argv, const RunOptions &options = {});

// Runs command with /bin/sh -c, without input, for at most two minutes.
RunResult Shell(const std::string &command);

// A program of the test's own running beside the one under test, its
// standard input and output pipes held here; status is its exit status
// once it has ended (-1 for a signal).
struct Background {
	pid_t pid = -1;
	int in = -1, out = -1;
	int status = -1;
};

// Starts argv[0]; with prepare given, runs it in the child first and ends
// the child with status 125 when it fails. pid is -1 when it cannot start.
Background StartBackground(const std::vector<std::string> &argv, bool (*prepare)() = nullptr);

// Reads its output until it holds text, for at most 60 seconds.
std::string ReadUntil(const Background &b, const std::string &text);

// Whether it has ended; its exit status is then kept.
bool Ended(Background &b);

// Ends its input and waits up to 30 seconds for its exit status; one that
// does not end by then is killed (status -1). rest gets the output left.
int Finish(Background &b, std::string *rest = nullptr);

// s in single quotes, safe as one word of a shell command.
std::string Quote(const std::string &s);

#endif
