// Running a program under test as a child: its exact output bytes, its
// standard error and how it ended.
#ifndef TEST_RUN_H
#define TEST_RUN_H

#include <string>
#include <vector>

struct RunResult {
	std::string out;    // standard output, byte for byte
	std::string err;    // standard error
	int status = -1;    // exit status, or -1 when it did not exit
	int signal = 0;     // the signal that ended it, or 0
	bool timedOut = false;
};

// Runs argv[0] with the given arguments. input is written to its standard
// input, which is then closed; with holdInput the input stays open, so
// that a program that reads it keeps waiting until the timeout, when it
// is killed. extraEnv holds "NAME=value" strings added to the environment.
// With outputGone standard output is a pipe whose reader has already gone.
// The program starts with SIGPIPE at its default, whatever this process does.
RunResult RunProgram(const std::vector<std::string> &argv, const std::string &input,
                     bool holdInput = false, double timeoutSeconds = 20,
                     const std::vector<std::string> &extraEnv = {},
                     bool outputGone = false);

// Runs command with /bin/sh -c, without input, for at most two minutes.
RunResult Shell(const std::string &command);

// s in single quotes, safe as one word of a shell command.
std::string Quote(const std::string &s);

#endif
