// Both programs over the real system's services.
#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "run.h"
#include "table.h"

TEST(OwnerrollReal, TableParsesAndHoldsThisProcess)
{
	RunResult r = RunProgram({OWNERROLL});
	ASSERT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");

	std::vector<TableRow> rows;
	ASSERT_EQ(ParseTable(r.out, &rows), "") << r.out.substr(0, 200);

	const std::string self = std::to_string(getpid());
	const std::string sid = "S-1-22-1-" + std::to_string(geteuid());
	passwd *account = getpwuid(geteuid());
	ASSERT_NE(account, nullptr);
	const std::string owner = std::string("Unix User\\") + account->pw_name;
	// The parser has made sure that no pid comes twice.
	auto row = std::find_if(rows.begin(), rows.end(), [&](const TableRow &t) { return t.pid == self; });
	ASSERT_NE(row, rows.end());
	EXPECT_EQ(row->name, "console_real_tests");
	EXPECT_EQ(row->sid, sid);
	EXPECT_EQ(row->account, owner);
	EXPECT_GE(atoi(row->handles.c_str()), 3) << row->handles;
	EXPECT_GE(atoi(row->threads.c_str()), 1) << row->threads;
}

// The list served over the real /proc: nothing said, and the end after
// one character. How it waits belongs to the scripted tests.
TEST(TaskrollReal, SucceedsSilently)
{
	RunResult r = RunProgram({TASKROLL}, {.input = "x", .holdInput = true});
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "");
}

// Memory that runs out at any one allocation of the enumeration ends in
// the error line and its code, with nothing leaked (LeakSanitizer looks
// where it is linked in), until the allocation starved is past them all.
TEST(TaskrollReal, MemoryRunningOutEndsInTheErrorLine)
{
	const std::string line = "Error: WTSEnumerateProcessesEx failed with error 12: Cannot allocate memory\n\n";
	int starved = 1;
	for (; starved < 100; starved++) {
		RunResult r = RunProgram({TASKROLL_STARVED}, {.env = {"STARVE=" + std::to_string(starved)}});
		if (r.err.empty()) {
			EXPECT_EQ(r.status, 0);
			EXPECT_EQ(r.out, "");
			break;
		}
		EXPECT_EQ(r.err, "starved\n") << "allocation " << starved;
		EXPECT_EQ(r.out, line) << "allocation " << starved;
		EXPECT_EQ(r.status, 12) << "allocation " << starved;
	}
	// The scratch buffers, the pids, the names and the block at least.
	EXPECT_GE(starved, 5);
	EXPECT_LT(starved, 100);
}

// LeakSanitizer reads /proc at the end of every process: where it is
// linked in (its entry point is then set) a program cannot end with its
// own status without /proc, only its output counts.
extern "C" void __lsan_do_leak_check(void) __attribute__((weak));
static const bool sanitized = __lsan_do_leak_check != nullptr;

// With an empty tmpfs on /proc (private_proc, which ends with 125 when that
// cannot be had here) the enumeration fails with "not found": taskroll ends
// with the code without reading its input, ownerroll reports it, prints an
// empty table and ends with the code after the wait.
TEST(BothReal, FailWithTheCodeWhenProcIsNotAProcessFileSystem)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to mount over /proc in a private mount namespace";
	const std::string line =
		"Error: WTSEnumerateProcessesEx failed with error 2: No such file or directory\n";
	const struct {
		const char *program, *input;
		int status;
		std::string out;
	} cases[] = {
		{TASKROLL, "", 2, line + "\n"},
		{OWNERROLL, "x", 2, line + " " + TableText("0", "")},
	};
	for (const auto &c : cases) {
		RunResult r = RunProgram({PRIVATE_PROC, "tmpfs", c.program}, {.input = c.input, .holdInput = true});
		if (r.status == 125)
			GTEST_SKIP() << "no private mount namespace here: " << r.err;
		EXPECT_FALSE(r.timedOut) << c.program;
		if (!sanitized) {
			EXPECT_EQ(r.status, c.status) << c.program;
		}
		EXPECT_EQ(r.out, c.out) << c.program;
	}
}
