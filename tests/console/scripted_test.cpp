// Both programs' mains over scripted services: the exact table, the error
// lines, the calls the services receive and how the programs end.
#include <string>

#include <gtest/gtest.h>

#include "run.h"
#include "table.h"

static const std::string enumerateCall = "enumerate server=local level=1 session=0xFFFFFFFE\n";

static const std::string ordinaryRows =
	"1\t4\t2000\t150\tSystem\tS-1-5-18\tNT AUTHORITY\\SYSTEM\n"
	"2\t1000\t31\t2\tcaf\xC3\xA9 \xF0\x9F\x98\x80.exe\tS-1-5-21-7-8-9-1001\tWORKGROUP\\anna\n"
	"3\t77\t12\t9\tsvchost.exe\tS-1-5-21-7-8-9-1001\tWORKGROUP\\anna\n";

// The calls for rows with a SID, then extra calls and the release of the
// listing. Every lookup gets the full capacity, although a failed one
// before it set the lengths to the sizes it needed and a good one
// shortened them.
static std::string Calls(int rows, int count, const std::string &extra = "")
{
	std::string calls = enumerateCall;
	for (int i = 0; i < rows; i++)
		calls += "convert sid=set\nlookup system=local sid=set name=1024 domain=1024\n";
	return calls + extra + "release class=1 base=listing count=" + std::to_string(count) + "\n";
}

TEST(OwnerrollScripted, TableErrorLinesAndCallsEndingAfterOneKey)
{
	const std::string enumFailed = "Error: WTSEnumerateProcessesEx failed with error ";
	const std::string nullReleased = enumerateCall + "release class=1 base=null count=0\n";
	const struct {
		std::string script, error, input, out, err;
		int status = 0; // the code of the first failure reported
	} cases[] = {
		{"empty", "5", "x", TableText("0", ""), Calls(0, 0)},
		// Rows are numbered whatever the pids.
		{"", "5", "x", TableText("3", ordinaryRows), Calls(3, 3)},
		// No SID: a hyphen and an empty account. The name is cleaned.
		{"nosid", "5", "x", TableText("4", ordinaryRows + "4\t123\t0\t1\tor?phan?\t-\t\n"),
		 Calls(3, 4, "convert sid=null\nlookup system=local sid=null name=1024 domain=1024\n")},
		// A SID that does not resolve, or an account name that does not
		// fit, ends the row after the SID's tab.
		{"empty,unresolved", "5", "x",
		 TableText("1", "1\t124\t5\t3\tstranger\tS-1-5-21-9-9-9-4242\t\n"), Calls(1, 1)},
		{"empty,longname,unresolved", "5", "x",
		 TableText("3", "1\t124\t5\t3\tstranger\tS-1-5-21-9-9-9-4242\t\n"
		                "2\t125\t6\t4\tlong\tS-1-5-21-7-8-9-1002\t\n"
		                "3\t126\t7\t5\tfitting\tS-1-5-21-7-8-9-1003\tWORKGROUP\\" +
		                    std::string(1023, 'F') + "\n"),
		 Calls(3, 3)},
		{"empty,hugename", "5", "x",
		 TableText("1", "1\t127\t8\t6\t" + std::string(70000, 'H') + "\tS-1-5-21-7-8-9-1001\tWORKGROUP\\anna\n"),
		 Calls(1, 1)},
		// Failures are reported and the program carries on; end of input
		// ends the wait as a key does.
		{"enumfail", "5", "x", enumFailed + "5: Input/output error\n " + TableText("0", ""),
		 nullReleased, 5},
		{"freefail", "22", "x",
		 TableText("3", ordinaryRows + "Error: WTSFreeMemoryEx failed with error 22: Invalid argument\n "),
		 Calls(3, 3), 22},
		// No block for the system's text nor for the composed line: the
		// line is composed all the same.
		{"enumfail,allocfail", "5", "x", enumFailed + "5: \n " + TableText("0", ""),
		 nullReleased, 5},
		// The status is the first failure's code, on Unix its low 8 bits.
		{"enumfail,freefail", "0xC0000005", "",
		 enumFailed + "-1073741819: \n " +
			 TableText("0", "Error: WTSFreeMemoryEx failed with error -1073741819: \n "),
		 nullReleased, 5},
	};
	for (const auto &c : cases) {
		// Input held open: a program that waits for more than one byte
		// runs into the timeout.
		RunResult r = RunProgram({OWNERROLL_SCRIPTED}, {.input = c.input, .holdInput = !c.input.empty(),
		                                                   .env = {"SCRIPT=" + c.script, "SCRIPT_ERROR=" + c.error}});
		EXPECT_FALSE(r.timedOut) << c.script;
		EXPECT_EQ(r.status, c.status) << c.script;
		EXPECT_EQ(r.out, c.out) << c.script;
		EXPECT_EQ(r.err, c.err) << c.script;
	}
}

TEST(OwnerrollScripted, TableIsOutWhileWaitingForAKey)
{
	// The program waits until it is killed, and by then everything it
	// printed must have reached the pipe.
	RunResult r = RunProgram({OWNERROLL_SCRIPTED}, {.holdInput = true, .timeoutSeconds = 1, .env = {"SCRIPT="}});
	EXPECT_TRUE(r.timedOut);
	EXPECT_EQ(r.out, TableText("3", ordinaryRows));
}

TEST(TaskrollScripted, FailureIsOneLineAndTheCodeWithoutReadingInput)
{
	// How other codes end the process belongs to the error report's tests.
	const struct {
		std::string error;
		int status;
		std::string out;
	} cases[] = {
		{"5", 5, "Error: WTSEnumerateProcessesEx failed with error 5: Input/output error\n\n"},
		{"2", 2, "Error: WTSEnumerateProcessesEx failed with error 2: No such file or directory\n\n"},
	};
	for (const auto &c : cases) {
		// Held input that is never read: a timeout, were it waited for.
		RunResult r = RunProgram({TASKROLL_SCRIPTED},
		                         {.holdInput = true, .env = {"SCRIPT=enumfail", "SCRIPT_ERROR=" + c.error}});
		EXPECT_FALSE(r.timedOut) << c.error;
		EXPECT_EQ(r.status, c.status);
		EXPECT_EQ(r.out, c.out);
		EXPECT_EQ(r.err, enumerateCall);
	}
}

TEST(TaskrollScripted, SuccessIsSilentAndWaitsForOneCharacter)
{
	// The list is not released by the probe.
	RunResult r = RunProgram({TASKROLL_SCRIPTED}, {.input = "x", .holdInput = true, .env = {"SCRIPT="}});
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, enumerateCall);

	r = RunProgram({TASKROLL_SCRIPTED}, {.env = {"SCRIPT="}});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");

	r = RunProgram({TASKROLL_SCRIPTED}, {.holdInput = true, .timeoutSeconds = 1, .env = {"SCRIPT="}});
	EXPECT_TRUE(r.timedOut);
	EXPECT_EQ(r.out, "");
}
