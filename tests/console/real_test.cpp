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

TEST(TaskrollReal, SuccessIsSilentAndWaitsForOneCharacter)
{
	RunResult r = RunProgram({TASKROLL}, "");
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "");

	r = RunProgram({TASKROLL}, "x", true);
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");

	r = RunProgram({TASKROLL}, "", true, 1);
	EXPECT_TRUE(r.timedOut) << "taskroll did not wait for input";
	EXPECT_EQ(r.out, "");
}

static const char noProcLine[] =
	"WTSEnumerateProcessesEx failed with error 2: No such file or directory\n";

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

static const char needsRoot[] = "needs root to mount over /proc in a private mount namespace";

// Runs program where /proc is an empty tmpfs; status 125 when that cannot
// be had here.
static RunResult RunWithoutProc(const char *program, bool holdInput)
{
	return RunProgram({BARE_PROC, program}, "", holdInput);
}

TEST(TaskrollReal, FailsWithTheCodeWhenProcIsNotAProcessFileSystem)
{
	if (geteuid() != 0)
		GTEST_SKIP() << needsRoot;
	RunResult r = RunWithoutProc(TASKROLL, true);
	if (r.status == 125)
		GTEST_SKIP() << "no private mount namespace here: " << r.err;
	EXPECT_FALSE(r.timedOut);
	if (!sanitized) {
		EXPECT_EQ(r.status, 2);
	}
	EXPECT_EQ(r.out, std::string("Error: ") + noProcLine + "\n");
}

TEST(OwnerrollReal, ReportsAndCarriesOnWhenProcIsNotAProcessFileSystem)
{
	if (geteuid() != 0)
		GTEST_SKIP() << needsRoot;
	RunResult r = RunWithoutProc(OWNERROLL, false);
	if (r.status == 125)
		GTEST_SKIP() << "no private mount namespace here: " << r.err;
	EXPECT_FALSE(r.timedOut);
	if (!sanitized) {
		EXPECT_EQ(r.status, 0);
	}
	EXPECT_EQ(r.out, std::string("Error: ") + noProcLine + " Processes Found: 0\n\n" +
	                 tableHeader + tableClosing);
}
