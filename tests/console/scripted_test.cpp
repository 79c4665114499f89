// Both programs' mains over scripted services: the exact table, the error
// lines, the calls the services receive and how the programs end.
#include <string>

#include <gtest/gtest.h>

#include "run.h"

static const std::string header = "#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\n\n";
static const std::string closing = "\n\nDone! Please any key to exit()\n";
static const std::string enumerateCall = "enumerate server=local level=1 session=0xFFFFFFFE\n";
static const std::string lookupCall = "lookup system=local sid=set name=1024 domain=1024\n";

static const std::string ordinaryRows =
	"1\t4\t2000\t150\tSystem\tS-1-5-18\tNT AUTHORITY\\SYSTEM\n"
	"2\t1000\t31\t2\tcaf\xC3\xA9 \xF0\x9F\x98\x80.exe\tS-1-5-21-7-8-9-1001\tWORKGROUP\\anna\n"
	"3\t77\t12\t9\tsvchost.exe\tS-1-5-21-7-8-9-1001\tWORKGROUP\\anna\n";

static std::string Calls(int rows)
{
	std::string calls;
	for (int i = 0; i < rows; i++)
		calls += "convert sid=set\n" + lookupCall;
	return calls;
}

static RunResult Ownerroll(const std::string &script, const std::string &input = "x",
                           const std::string &error = "5")
{
	return RunProgram({OWNERROLL_SCRIPTED}, input, false, 20,
	                  {"SCRIPT=" + script, "SCRIPT_ERROR=" + error});
}

static RunResult Taskroll(const std::string &script, const std::string &input, bool hold,
                          double timeout = 20, const std::string &error = "5")
{
	return RunProgram({TASKROLL_SCRIPTED}, input, hold, timeout,
	                  {"SCRIPT=" + script, "SCRIPT_ERROR=" + error});
}

TEST(OwnerrollScripted, EmptyList)
{
	RunResult r = Ownerroll("empty");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Processes Found: 0\n\n" + header + closing);
	EXPECT_EQ(r.err, enumerateCall + "release class=1 base=listing count=0\n");
}

TEST(OwnerrollScripted, RowsAreNumberedWhateverThePidsAndReleaseGetsTheBase)
{
	RunResult r = Ownerroll("");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Processes Found: 3\n\n" + header + ordinaryRows + closing);
	// The second lookup for the same account gets the full capacity
	// although the first one shortened the lengths.
	EXPECT_EQ(r.err, enumerateCall + Calls(3) + "release class=1 base=listing count=3\n");
}

TEST(OwnerrollScripted, RecordWithoutSidShowsHyphenAndEmptyAccount)
{
	RunResult r = Ownerroll("nosid");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Processes Found: 4\n\n" + header + ordinaryRows +
	                 "4\t123\t0\t1\torphan\t-\t\n" + closing);
	EXPECT_EQ(r.err, enumerateCall + Calls(3) + "convert sid=null\n" +
	                 "lookup system=local sid=null name=1024 domain=1024\n" +
	                 "release class=1 base=listing count=4\n");
}

TEST(OwnerrollScripted, SidThatDoesNotResolveEndsTheRowAfterItsTab)
{
	RunResult r = Ownerroll("empty,unresolved");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Processes Found: 1\n\n" + header +
	                 "1\t124\t5\t3\tstranger\tS-1-5-21-9-9-9-4242\t\n" + closing);
}

TEST(OwnerrollScripted, AccountNameThatDoesNotFitLeavesTheColumnEmpty)
{
	RunResult r = Ownerroll("empty,longname,unresolved");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Processes Found: 3\n\n" + header +
	                 "1\t124\t5\t3\tstranger\tS-1-5-21-9-9-9-4242\t\n"
	                 "2\t125\t6\t4\tlong\tS-1-5-21-7-8-9-1002\t\n"
	                 "3\t126\t7\t5\tfitting\tS-1-5-21-7-8-9-1003\tWORKGROUP\\" +
	                 std::string(1023, 'F') + "\n" + closing);
	// The failed lookup set the lengths to the sizes it needed; the next
	// one still gets 1024.
	EXPECT_EQ(r.err, enumerateCall + Calls(3) + "release class=1 base=listing count=3\n");
}

TEST(OwnerrollScripted, FailedEnumerationReportsAndCarriesOn)
{
	RunResult r = Ownerroll("enumfail");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Error: WTSEnumerateProcessesEx failed with error 5: Input/output error\n "
	                 "Processes Found: 0\n\n" + header + closing);
	EXPECT_EQ(r.err, enumerateCall + "release class=1 base=null count=0\n");
}

TEST(OwnerrollScripted, FailedReleaseReportsBeforeTheClosingLine)
{
	RunResult r = Ownerroll("freefail", "x", "22");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Processes Found: 3\n\n" + header + ordinaryRows +
	                 "Error: WTSFreeMemoryEx failed with error 22: Invalid argument\n " + closing);

	r = Ownerroll("enumfail,freefail", "", "0xC0000005");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Error: WTSEnumerateProcessesEx failed with error -1073741819:  "
	                 "Processes Found: 0\n\n" + header +
	                 "Error: WTSFreeMemoryEx failed with error -1073741819:  " + closing);
}

TEST(OwnerrollScripted, TableIsOutWhileWaitingForAKey)
{
	// Input held open: the program waits until it is killed, and by then
	// everything it printed must have reached the pipe.
	RunResult r = RunProgram({OWNERROLL_SCRIPTED}, "", true, 1, {"SCRIPT="});
	EXPECT_TRUE(r.timedOut);
	EXPECT_EQ(r.out, "Processes Found: 3\n\n" + header + ordinaryRows + closing);

	r = RunProgram({OWNERROLL_SCRIPTED}, "x", true, 20, {"SCRIPT="});
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
}

static const std::string probeLine =
	"Error: WTSEnumerateProcessesEx failed with error 5: Input/output error\n\n";

TEST(TaskrollScripted, FailureIsOneLineAndTheCodeWithoutReadingInput)
{
	RunResult r = Taskroll("enumfail", "", true);
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 5);
	EXPECT_EQ(r.out, probeLine);
	EXPECT_EQ(r.err, enumerateCall);

	r = Taskroll("enumfail", "", true, 20, "2");
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out, "Error: WTSEnumerateProcessesEx failed with error 2: "
	                 "No such file or directory\n\n");
}

TEST(TaskrollScripted, CodeWithLowBitsZeroStillEndsAsFailure)
{
	RunResult r = Taskroll("enumfail", "", true, 20, "256");
	EXPECT_FALSE(r.timedOut);
	EXPECT_NE(r.status, 0);
	EXPECT_EQ(r.signal, 0);
	EXPECT_EQ(r.out, "Error: WTSEnumerateProcessesEx failed with error 256: \n");

	r = Taskroll("enumfail", "", true, 20, "0xC0000005");
	EXPECT_EQ(r.status, 5);
	EXPECT_EQ(r.out, "Error: WTSEnumerateProcessesEx failed with error -1073741819: \n");

	// A failure that left no code: the line shows 0, the status is 1.
	r = Taskroll("enumfail", "", true, 20, "0");
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "Error: WTSEnumerateProcessesEx failed with error 0: Success\n\n");
}

TEST(TaskrollScripted, SuccessIsSilentAndWaitsForOneCharacter)
{
	RunResult r = Taskroll("", "", false);
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	// The list is not released by the probe.
	EXPECT_EQ(r.err, enumerateCall);

	r = Taskroll("", "x", true);
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");

	r = Taskroll("", "", true, 1);
	EXPECT_TRUE(r.timedOut);
	EXPECT_EQ(r.out, "");
}
