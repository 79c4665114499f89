// The bytes formatted output and error reports bring to standard output,
// from a child that writes through the console support.
#include <string>

#include <gtest/gtest.h>

#include "run.h"

static const std::string replacement = "\xEF\xBF\xBD";
static const std::string grinning = "\xF0\x9F\x98\x80";

// Fixed text byte for byte, other text as UTF-8, each lone surrogate as a
// replacement character, and names cleaned for their cells.
TEST(ConsoleOutput, TextAsUtf8)
{
	const struct {
		const char *what;
		std::string out;
	} cases[] = {
		{"text", "Processes Found: 3\n\ngr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD|" + grinning +
		             "\xF0\x90\x8D\x88\n"},
		{"unpaired", "a" + replacement + "b\na" + replacement + "b\na" + replacement + replacement +
		             "c\n" + replacement + grinning + "\n"},
		{"names", "a?b?c?d?[31m|del?x? \tc1???\xC2\xA0\t??????????????|\xD8\x9B\xE2\x80\x8D\xE2\x80\xA7"
		          "\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\t" + grinning + replacement + "|" + replacement +
		          replacement + replacement + "\t" + replacement + replacement + "\n"},
	};
	for (const auto &c : cases) {
		RunResult r = RunProgram({CONSOLE_PROBE, c.what});
		EXPECT_EQ(r.status, 0) << c.what;
		EXPECT_EQ(r.out, c.out) << c.what;
		EXPECT_EQ(r.err, "") << c.what;
	}
}

TEST(ConsoleOutput, PairsAcrossTheBufferEndComeOutWhole)
{
	std::string expected;
	// Before the buffer's end, room for 0 to 3 bytes of a pair: 0, 2, 1, 0, 3.
	for (int k = 0; k < 5; k++) {
		expected += std::string("abcd", (size_t)k);
		for (int i = 0; i < 20000; i++)
			expected += grinning;
		expected += "\n";
	}
	// Also into a pipe in non-blocking mode whose reader comes late: the
	// writes wait for it.
	for (const char *command : {"exec " CONSOLE_PROBE " edges",
	                            "set -o pipefail; (perl -MFcntl -e 'fcntl STDOUT, F_SETFL, O_NONBLOCK' && "
	                            "exec " CONSOLE_PROBE " edges) | (sleep 0.5; cat)"}) {
		RunResult r = RunProgram({"/bin/bash", "-c", command});
		EXPECT_EQ(r.status, 0) << command << r.err;
		EXPECT_EQ(r.out.size(), expected.size()) << command;
		EXPECT_TRUE(r.out == expected) << "output differs from the expected lines";
	}
}

// The line, and how the process ends: a fatal report ends it with the code,
// losing nothing printed, and a code that would read as success (none, or
// one whose low 8 bits are 0) still fails it.
TEST(ReportLastError, PrintsTheLineAndEndsWithTheCodeWhenFatal)
{
	const std::string line = "before\nError: WTSEnumerateProcessesEx failed with error ";
	const struct {
		std::vector<std::string> args;
		int status;
		std::string out;
	} cases[] = {
		{{"5"}, 0, line + "5: Input/output error\n after\n"},
		{{"5", "fatal"}, 5, line + "5: Input/output error\n "},
		{{"2", "fatal"}, 2, line + "2: No such file or directory\n "},
		// No text for the code: the line still ends.
		{{"0x20001234"}, 0, line + "536875572: \n after\n"},
		{{"0xC0000005", "fatal"}, 5, line + "-1073741819: \n "},
		{{"0", "fatal"}, 1, line + "0: Success\n "},
		{{"256", "fatal"}, -1, line + "256: \n "},
	};
	for (const auto &c : cases) {
		std::vector<std::string> argv = {CONSOLE_PROBE, "report"};
		argv.insert(argv.end(), c.args.begin(), c.args.end());
		RunResult r = RunProgram(argv);
		if (c.status >= 0) {
			EXPECT_EQ(r.status, c.status) << c.args[0];
		} else {
			EXPECT_GT(r.status, 0) << c.args[0];
		}
		EXPECT_EQ(r.signal, 0) << c.args[0];
		EXPECT_EQ(r.out, c.out);
	}
}
