// Both programs over the real system's services.
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
	RunResult r = RunProgram({OWNERROLL}, "");
	ASSERT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");

	std::vector<TableRow> rows;
	std::string problem;
	ASSERT_TRUE(ParseTable(r.out, &rows, &problem)) << problem << "\n" << r.out.substr(0, 200);
	ASSERT_FALSE(rows.empty());

	const std::string self = std::to_string(getpid());
	const std::string sid = "S-1-22-1-" + std::to_string(geteuid());
	passwd *account = getpwuid(geteuid());
	ASSERT_NE(account, nullptr);
	const std::string owner = std::string("Unix User\\") + account->pw_name;
	int found = 0;
	for (const TableRow &row : rows) {
		if (row.pid == self) {
			found++;
			EXPECT_EQ(row.name, "console_real_tests");
			EXPECT_EQ(row.sid, sid);
			EXPECT_EQ(row.account, owner);
			EXPECT_GE(atoi(row.handles.c_str()), 3) << row.handles;
			EXPECT_GE(atoi(row.threads.c_str()), 1) << row.threads;
		}
	}
	EXPECT_EQ(found, 1);
}

// The list served over the real /proc: nothing said, and the end after
// one character. How it waits belongs to the scripted tests.
TEST(TaskrollReal, SucceedsSilently)
{
	RunResult r = RunProgram({TASKROLL}, "x", true);
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "");
}

// LeakSanitizer reads /proc at the end of every process: without it a
// sanitized program cannot end with its own status, only its output counts.
#if defined(__SANITIZE_ADDRESS__)
#define LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define LEAK_CHECKED 1
#endif
#endif
#if defined(LEAK_CHECKED)
static const bool sanitized = true;
#else
static const bool sanitized = false;
#endif

// With an empty tmpfs on /proc (private_proc, which ends with 125 when that
// cannot be had here) the enumeration fails with "not found": taskroll ends
// with the code without reading its input, ownerroll reports it and prints
// an empty table.
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
		{OWNERROLL, "x", 0, line + " " + TableText("0", "")},
	};
	for (const auto &c : cases) {
		RunResult r = RunProgram({PRIVATE_PROC, "tmpfs", c.program}, c.input, true);
		if (r.status == 125)
			GTEST_SKIP() << "no private mount namespace here: " << r.err;
		EXPECT_FALSE(r.timedOut) << c.program;
		if (!sanitized) {
			EXPECT_EQ(r.status, c.status) << c.program;
		}
		EXPECT_EQ(r.out, c.out) << c.program;
	}
}
