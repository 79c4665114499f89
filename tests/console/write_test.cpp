// What the programs do when standard output cannot take the table, what
// they read of a shared input, and names that could break the table's
// layout on the screen: the real ownerroll over the real /proc.
#include <algorithm>
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "run.h"

static const std::string cannotWrite = ": cannot write to standard output: ";

// Never a success and never a wait (standard input stays open): one line on
// standard error, status 1.
TEST(WriteFailure, EndsAtOnceWithOneLineAndStatusOne)
{
	const struct {
		std::string command, err;
	} cases[] = {
		{"exec " OWNERROLL " >/dev/full", "ownerroll" + cannotWrite + "No space left on device\n"},
		{"exec " OWNERROLL " >&-", "ownerroll" + cannotWrite + "Bad file descriptor\n"},
		// Descriptor 1 closed from the start, although a file takes it
		// before the first write.
		{"exec " CONSOLE_PROBE " reopen >&-", "console_probe" + cannotWrite + "Bad file descriptor\n"},
		// A file at its size limit takes part of a write and refuses the rest.
		{"f=$(mktemp); trap '' XFSZ; (ulimit -f 1; exec " OWNERROLL " >\"$f\"); s=$?; rm \"$f\"; exit $s",
		 "ownerroll" + cannotWrite + "File too large\n"},
		// A reader gone while SIGPIPE is ignored is a failure like any other.
		{"trap '' PIPE; exec " OWNERROLL, "ownerroll" + cannotWrite + "Broken pipe\n"},
		{"SCRIPT=enumfail exec " TASKROLL_SCRIPTED " >/dev/full",
		 "taskroll" + cannotWrite + "No space left on device\n"},
	};
	for (const auto &c : cases) {
		RunResult r = RunProgram({"/bin/sh", "-c", c.command}, {.holdInput = true, .outputGone = true});
		EXPECT_FALSE(r.timedOut) << c.command;
		EXPECT_EQ(r.status, 1) << c.command;
		// The scripted services log their calls on standard error first.
		EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), c.err.size())), c.err) << r.err;
	}

	// A reader already gone: the default SIGPIPE ends it, with nothing said.
	RunResult r = RunProgram({OWNERROLL}, {.holdInput = true, .outputGone = true});
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.signal, SIGPIPE);
	EXPECT_EQ(r.err, "");
}

// The key wait takes one byte; the rest is left for the next reader.
TEST(KeyWait, ReadsOneByteOfASharedInput)
{
	RunResult r = Shell("printf 'x\\nrest\\n' | (" OWNERROLL " >/dev/null; cat)");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "\nrest\n");
}

// A line separator would split the row for Unicode-aware readers, a
// right-to-left override reorder it on the screen: both show as '?'.
TEST(NamesInTheTable, SeparatorsAndBidiControlsBecomeQuestionMarks)
{
	// Each name is waited for in /proc before the table is made.
	RunResult r = Shell("d=$(mktemp -d)\n"
	                    "for n in 'line\xE2\x80\xA8sep' 'bidi\xE2\x80\xAE" "flip'; do\n"
	                    "  cp /bin/sleep \"$d/$n\"; \"$d/$n\" 60 </dev/null >/dev/null 2>&1 &\n"
	                    "  p=\"$p $!\"; until grep -qF \"$n\" /proc/$!/comm; do sleep 0.01; done\n"
	                    "done\n" OWNERROLL " </dev/null\nkill $p; wait; rm -r \"$d\"");
	EXPECT_NE(r.out.find("\tline?sep\t"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("\tbidi?flip\t"), std::string::npos) << r.out;
	EXPECT_EQ(r.out.find("\xE2\x80\xA8"), std::string::npos);
	EXPECT_EQ(r.out.find("\xE2\x80\xAE"), std::string::npos);
}
