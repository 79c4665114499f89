// Both programs over the real system's services.
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "run.h"

static const std::string header = "#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\n\n";
static const std::string closing = "\n\nDone! Please any key to exit()\n";

static std::vector<std::string> Split(const std::string &text, char separator)
{
	std::vector<std::string> parts;
	size_t start = 0;
	for (;;) {
		size_t end = text.find(separator, start);
		if (end == std::string::npos) {
			parts.push_back(text.substr(start));
			return parts;
		}
		parts.push_back(text.substr(start, end - start));
		start = end + 1;
	}
}

static bool IsNumber(const std::string &text)
{
	if (text.empty())
		return false;
	for (char c : text)
		if (c < '0' || c > '9')
			return false;
	return true;
}

TEST(OwnerrollReal, TableParsesAndHoldsThisProcess)
{
	RunResult r = RunProgram({OWNERROLL}, "");
	ASSERT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");

	const std::string &out = r.out;
	const std::string lead = "Processes Found: ";
	ASSERT_EQ(out.compare(0, lead.size(), lead), 0) << out.substr(0, 200);
	size_t countEnd = out.find("\n\n", lead.size());
	ASSERT_NE(countEnd, std::string::npos);
	std::string count = out.substr(lead.size(), countEnd - lead.size());
	ASSERT_TRUE(IsNumber(count)) << count;
	size_t bodyStart = countEnd + 2 + header.size();
	ASSERT_EQ(out.compare(countEnd + 2, header.size(), header), 0);
	ASSERT_GE(out.size(), bodyStart + closing.size());
	ASSERT_EQ(out.compare(out.size() - closing.size(), closing.size(), closing), 0);
	std::string body = out.substr(bodyStart, out.size() - closing.size() - bodyStart);
	ASSERT_FALSE(body.empty());
	ASSERT_EQ(body.back(), '\n');
	body.pop_back();

	std::vector<std::string> rows = Split(body, '\n');
	EXPECT_EQ(std::to_string(rows.size()), count);

	const std::string self = std::to_string(getpid());
	const std::string sid = "S-1-22-1-" + std::to_string(geteuid());
	passwd *account = getpwuid(geteuid());
	ASSERT_NE(account, nullptr);
	const std::string owner = std::string("Unix User\\") + account->pw_name;
	int found = 0;
	for (size_t i = 0; i < rows.size(); i++) {
		std::vector<std::string> columns = Split(rows[i], '\t');
		ASSERT_EQ(columns.size(), 7u) << rows[i];
		EXPECT_EQ(columns[0], std::to_string(i + 1));
		EXPECT_TRUE(IsNumber(columns[1])) << rows[i];
		EXPECT_TRUE(IsNumber(columns[2])) << rows[i];
		EXPECT_TRUE(IsNumber(columns[3])) << rows[i];
		EXPECT_FALSE(columns[4].empty()) << rows[i];
		if (columns[1] == self) {
			found++;
			EXPECT_EQ(columns[4], "console_real_tests");
			EXPECT_EQ(columns[5], sid);
			EXPECT_EQ(columns[6], owner);
			EXPECT_GE(atoi(columns[2].c_str()), 3) << rows[i];
			EXPECT_GE(atoi(columns[3].c_str()), 1) << rows[i];
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
	EXPECT_EQ(r.out, std::string("Error: ") + noProcLine + " Processes Found: 0\n\n" + header +
	                 closing);
}
