// The Windows programs' runs under Wine. Wine answers the level-1
// enumeration with "not implemented", which drives the failure paths; for
// the main job each run loads the stand-in wtsapi32.dll (built beside the
// programs, never shipped) from a folder of its own, and checks the
// programs against what the stand-in logged it handed out, and against
// Wine's own level-0 list.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "table.h"
#include "text.h"
#include "wine.h"

namespace {

// Copies of the idle program under names a table must carry whole: letters
// beyond ASCII, a character outside the BMP, a space.
const char *const idleNames[] = {"Gr\u00FC\u00DFe \U0001D11E.exe", "na\u00EFve caf\u00E9.exe",
                                 "\u03A9\u03BC\u03AD\u03B3\u03B1.exe"};

std::string StandIn(int bits)
{
	return Built(bits, "tests/wine/win/standin/wtsapi32.dll");
}

// The idle processes, started once for all the tests; the level-0 list
// and the account this prefix's programs run as.
struct Idle {
	std::string name, pid;
	Background process;
};
std::vector<Idle> idle;
std::string skipReason, userSid, userAccount;
std::map<std::string, std::string> levelZero; // pid -> image name

class WineMainJob : public testing::Test {
protected:
	static void SetUpTestSuite()
	{
		skipReason = WineMissing();
		for (int bits : {64, 32})
			if (!IsFile(StandIn(bits)))
				skipReason = StandIn(bits) + " is not built (cmake --build --preset mingw" +
				             std::to_string(bits) + ")";
		if (!skipReason.empty())
			return;
		Shell("rm -rf " + Quote(setup.work) + " && mkdir -p " + Quote(setup.work + "/idle"));
		for (const char *name : idleNames) {
			std::string exe = setup.work + "/idle/" + name;
			Shell("cp " + Quote(Built(64, "tests/wine/win/idle.exe")) + " " + Quote(exe));
			Idle i = {name, "", StartBackground(WineCommand(exe, 64, false))};
			std::string line = ReadUntil(i.process, "\n");
			if (line.empty()) {
				std::printf("note: %s gave no pid; Wine retried once\n", name);
				Finish(i.process);
				i.process = StartBackground(WineCommand(exe, 64, false));
				line = ReadUntil(i.process, "\n");
			}
			i.pid = line.substr(0, line.find('\n'));
			idle.push_back(i);
		}
		RunResult probe = RunWine(WineCommand(Built(64, "tests/wine/win/level0_probe.exe"), 64, false),
		                           "", false);
		for (const std::string &line : Lines(probe.out)) {
			std::vector<std::string> f = Split(line, '\t');
			if (f.size() == 3 && f[0] == "user") {
				userSid = f[1];
				userAccount = f[2];
			} else if (f.size() == 3 && f[0] == "process") {
				levelZero[f[1]] = f[2];
			}
		}
	}

	static void TearDownTestSuite()
	{
		for (Idle &i : idle)
			Finish(i.process);
		idle.clear();
		if (!setup.work.empty())
			Shell("rm -rf " + Quote(setup.work));
	}

	void SetUp() override
	{
		if (!skipReason.empty())
			GTEST_SKIP() << skipReason;
	}
};

// A folder's path as Windows programs under Wine name it.
std::string WindowsPath(std::string path)
{
	for (char &c : path)
		c = c == '/' ? '\\' : c;
	return "Z:" + path;
}

// A folder of the run's own with the program and the stand-in beside it.
std::string Folder(const std::string &name, int bits, const std::string &program)
{
	std::string dir = setup.work + "/" + name;
	Shell("mkdir -p " + Quote(dir) + " && cp " + Quote(Built(bits, program)) + " " +
	      Quote(StandIn(bits)) + " " + Quote(dir));
	return dir;
}

TEST_F(WineMainJob, TheIdleProcessesAreInWinesOwnList)
{
	ASSERT_FALSE(userSid.empty()) << "the level-0 probe gave no account";
	ASSERT_EQ(idle.size(), 3u);
	for (const Idle &i : idle)
		EXPECT_EQ(levelZero[i.pid], i.name) << "pid " << i.pid;
}

// Through a pipe: the exact layout in UTF-8 with CR LF, every row the
// record the stand-in handed out, the list freed once with its base.
TEST_F(WineMainJob, OwnerrollPrintsTheListItWasGiven)
{
	for (int bits : Architectures()) {
		SCOPED_TRACE("ownerroll x86" + std::string(bits == 64 ? "-64" : ""));
		std::string dir = Folder("ownerroll" + std::to_string(bits), bits,
		                         "ownerroll/ownerroll.exe");
		std::string log = dir + "/calls.log";
		RunResult r = RunWine(WineCommand(dir + "/ownerroll.exe", bits, true,
		                                  {"WTS_STANDIN_LOG=Z:" + log, "WTS_STANDIN_NULL_SID=ownerroll.exe"}),
		                      "", false);
		EXPECT_FALSE(r.timedOut);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		std::string text;
		for (size_t i = 0; i < r.out.size(); i++) {
			if (r.out[i] == '\n') {
				ASSERT_TRUE(i > 0 && r.out[i - 1] == '\r') << "a line feed without CR at " << i;
			}
			if (r.out[i] != '\r' || i + 1 >= r.out.size() || r.out[i + 1] != '\n')
				text += r.out[i];
		}
		std::vector<TableRow> rows;
		ASSERT_EQ(ParseTable(text, &rows), "") << r.out;

		std::vector<std::string> calls = Lines(ReadFile(log));
		ASSERT_EQ(calls.size(), rows.size() + 2) << ReadFile(log);
		std::string count = std::to_string(rows.size());
		std::string block = calls[0].substr(calls[0].rfind('=') + 1);
		EXPECT_EQ(calls[0], "enumerate level=1 session=0xFFFFFFFE count=" + count +
		                    " block=" + block);
		EXPECT_EQ(calls.back(), "free class=1 base=" + block + " count=" + count);
		int own = 0, nullSid = 0;
		for (size_t i = 0; i < rows.size(); i++) {
			const TableRow &row = rows[i];
			std::vector<std::string> f = Split(calls[i + 1], '\t');
			ASSERT_EQ(f.size(), 7u) << calls[i + 1];
			EXPECT_EQ(std::vector<std::string>({row.pid, row.handles, row.threads, row.sid,
			                                    row.name}),
			          std::vector<std::string>({f[2], f[3], f[4], f[5], f[6]}));
			EXPECT_EQ(row.account, row.sid == userSid ? userAccount : "") << row.sid;
			for (const Idle &p : idle)
				if (row.pid == p.pid && row.name == p.name && row.sid == userSid)
					own++;
			if (row.name == "ownerroll.exe" && row.sid == "-")
				nullSid++;
		}
		EXPECT_EQ(own, 3) << r.out;
		EXPECT_EQ(nullSid, 1) << r.out;
	}
}

// Wine's console reads the keys only once the program asks for them: a
// key typed before that is lost, so one is typed until the program ends.
int EndWithAKey(Background &s)
{
	for (int typed = 0; typed < 40 && !Ended(s); typed++) {
		EXPECT_EQ(write(s.in, "x", 1), 1);
		usleep(250000);
	}
	return Finish(s);
}

// On a pseudo-terminal Wine gives the program a console: the text goes
// through the console interface, which Wine writes out in the locale's
// encoding, its own terminal controls around it. One key, without Enter,
// ends the wait.
TEST_F(WineMainJob, OwnerrollOnAConsole)
{
	if (!IsProgram(setup.script))
		GTEST_SKIP() << "script not found (bsdutils): no terminal to give the program";
	std::string dir = Folder("console", 64, "ownerroll/ownerroll.exe");
	Background s = StartBackground(OnTerminal(WineCommand(dir + "/ownerroll.exe", 64, true)));
	std::string out = ReadUntil(s, "Done! Please any key to exit()");
	ASSERT_NE(out.find("Done! Please any key to exit()"), std::string::npos) << out;
	EXPECT_EQ(EndWithAKey(s), 0) << "the wait did not end with a key";
	// Wine's console turns tabs into blanks: the names are looked for whole.
	EXPECT_NE(out.find("Processes Found: "), std::string::npos) << out;
	EXPECT_NE(out.find(userSid), std::string::npos) << out;
	for (const Idle &i : idle)
		if (i.name.find('\xF0') == std::string::npos) {
			EXPECT_NE(out.find(i.name), std::string::npos) << out;
		}
}

// cmd shares its console with ownerroll: a line typed at the wait is the
// wait's whole, with the table on the console or in a file. (Wine's cmd
// makes a pipe a file, so the pager's case, which keeps its keys, cannot
// be had here.)
TEST_F(WineMainJob, TheWaitLeavesCmdNothingTyped)
{
	if (!IsProgram(setup.script))
		GTEST_SKIP() << "script not found (bsdutils): no terminal to give the program";
	std::string dir = Folder("cmd", 64, "ownerroll/ownerroll.exe");
	for (const char *output : {"", "> list.txt"}) {
		SCOPED_TRACE(output);
		std::string log = dir + "/calls.log";
		Shell("rm -f " + Quote(log));
		std::vector<std::string> argv = WineCommand("cmd", 64, true, {"WTS_STANDIN_MADE_UP=3", "WTS_STANDIN_LOG=Z:" + log});
		// The line's variable is expanded when it is echoed (/v:on), not when
		// the line is read.
		argv.insert(argv.end(), {"/v:on", "/c", "cd /d " + WindowsPath(dir) + " & ownerroll.exe " + output +
		                                            " & echo ended& set /p line=& echo rest:[!line!]"});
		Background s = StartBackground(OnTerminal(argv));
		for (int waited = 0; ReadFile(log).find("free ") == std::string::npos && waited < 600; waited++)
			usleep(100000);
		usleep(500000);
		EXPECT_EQ(write(s.in, "xecho hi\r", 9), 9);
		std::string out = ReadUntil(s, "ended");
		EXPECT_EQ(write(s.in, "last\r", 5), 5);
		out += ReadUntil(s, "]");
		EXPECT_NE(out.find("rest:[last]"), std::string::npos) << out;
		Finish(s);
	}
}

// A table of 5,000 made-up rows reaches the console in large writes, as
// the console trace channel logs each WriteConsoleW: one per row and
// column would be 35,000. With standard input not the console, the wait
// ends at its end.
TEST_F(WineMainJob, OwnerrollWritesAConsoleInLargeBatches)
{
	if (!IsProgram(setup.script))
		GTEST_SKIP() << "script not found (bsdutils): no terminal to give the program";
	std::string dir = Folder("batches", 64, "ownerroll/ownerroll.exe");
	RunResult r = RunWine(OnTerminal(WineCommand(dir + "/ownerroll.exe", 64, true,
	                                             {"WTS_STANDIN_MADE_UP=5000", "WINEDEBUG=trace+console"}),
	                                 "</dev/null 2>" + Quote(dir + "/trace.log")),
	                      "", false);
	EXPECT_EQ(r.status, 0);
	// The last row whole, its tabs turned into blanks, which are left out.
	std::string text;
	for (char c : r.out)
		if (c != ' ')
			text += c;
	EXPECT_NE(text.find("\n5000119996" "49991made-up.exe"), std::string::npos) << r.out.substr(0, 400);
	size_t writes = 0;
	for (const std::string &line : Lines(ReadFile(dir + "/trace.log")))
		writes += line.find(":trace:console:WriteConsoleW ") != std::string::npos;
	EXPECT_GT(writes, 10u);
	EXPECT_LE(writes, 100u);
}

// Names no system should give, served as made-up records to both
// architectures through a pipe: every control, separator and reordering
// mark a '?', each row still seven fields. Also from a list lent on pages
// that may only be read, the name ending where they do: never written,
// never read past.
TEST_F(WineMainJob, OwnerrollCleansEveryName)
{
	const std::string name = "a\tb\rc\nd\x1b]0;t\x07" "e\u202Ef\u2028g\u2066";
	const std::string row = "\ta?b?c?d?]0;t?e?f?g?\t" + userSid + "\t" + userAccount + "\r\n";
	const struct {
		const char *count;
		bool readOnly;
		std::string rows;
	} cases[] = {{"2", false, "1\t100000\t0\t1" + row + "2\t100004\t1\t1" + row},
	             {"2", true, "1\t100000\t0\t1" + row + "2\t100004\t1\t1" + row},
	             {"0", true, ""}};
	for (const auto &c : cases) {
		for (int bits : Architectures()) {
			SCOPED_TRACE("x86" + std::string(bits == 64 ? "-64 " : " ") + c.count +
			             (c.readOnly ? " read-only" : ""));
			std::string dir = Folder("names" + std::to_string(bits), bits, "ownerroll/ownerroll.exe");
			RunResult r = RunWine(WineCommand(dir + "/ownerroll.exe", bits, true,
			                                  {std::string("WTS_STANDIN_MADE_UP=") + c.count,
			                                   "WTS_STANDIN_MADE_UP_NAME=" + name,
			                                   c.readOnly ? "WTS_STANDIN_READ_ONLY=1" : "WTS_STANDIN_NONE=1"}),
			                      "", false);
			EXPECT_EQ(r.status, 0);
			EXPECT_EQ(r.out, "Processes Found: " + std::string(c.count) + "\r\n\r\n"
			                 "#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\r\n\r\n" + c.rows +
			                 "\r\n\r\nDone! Please any key to exit()\r\n");
		}
	}
}

// taskroll (x86, or the same built for x86-64 where no x86 program runs):
// success prints nothing and waits for one character.
TEST_F(WineMainJob, TaskrollSucceedsSilentlyAndWaits)
{
	int bits = X86Runs() ? 32 : 64;
	std::string dir = Folder("taskroll", bits, "taskroll/taskroll.exe");
	std::string log = dir + "/calls.log";
	Background s = StartBackground(WineCommand(dir + "/taskroll.exe", bits, true,
	                                           {"WTS_STANDIN_LOG=Z:" + log}));
	for (int waited = 0; ReadFile(log).find(" count=") == std::string::npos && waited < 600;
	     waited++)
		usleep(100000);
	ASSERT_EQ(ReadFile(log).find("enumerate level=1 session=0xFFFFFFFE count="), 0u)
		<< ReadFile(log);
	usleep(300000);
	EXPECT_FALSE(Ended(s)) << "ended without waiting";
	EXPECT_EQ(write(s.in, "x", 1), 1);
	std::string out;
	EXPECT_EQ(Finish(s, &out), 0);
	EXPECT_EQ(out, "");
	// The list is the program's until it ends: never freed.
	EXPECT_EQ(ReadFile(log).find("free"), std::string::npos);
	// From a pipe another program left in non-blocking mode, which has no
	// byte for a second.
	std::vector<std::string> argv = WineCommand(Built(bits, "tests/wine/win/nowait.exe"), bits, true);
	argv.push_back(WindowsPath(dir + "/taskroll.exe"));
	RunResult r = RunWine(argv, "", false);
	EXPECT_EQ(r.out, "waited\r\n0\r\n");
}

// Failures, first through Wine's own wtsapi32, which serves the level-1
// enumeration only with "not implemented" (error 120): a real
// implementation of the system's services and its error text included.
// Every line feed becomes CR LF, but the text's own CR LF stays one line
// end. taskroll ends at once with the error line and the code, a code
// of 0 not reading as success; ownerroll carries on with an empty table,
// waits for one character, unless its reader has gone, and ends with the
// code.
TEST_F(WineMainJob, FailuresReportTheCode)
{
	const std::string line = "Error: WTSEnumerateProcessesEx failed with error ";
	const std::string notImplemented = line + "120: Call not implemented.\r\n";
	// The error line ends in a blank, which starts the next output.
	const std::string emptyTable = notImplemented + " Processes Found: 0\r\n\r\n" +
	                               "#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\r\n\r\n"
	                               "\r\n\r\nDone! Please any key to exit()\r\n";
	// With hold, standard input stays open: a program that waited for it
	// would be killed at the timeout. fail: the stand-in's code, or none.
	struct {
		const char *program;
		int bits;
		const char *fail, *input;
		bool hold, outputGone;
		std::string out;
		int status;
	} cases[] = {{"taskroll", 32, nullptr, "", true, false, notImplemented + "\r\n", 120},
	             {"taskroll", 64, nullptr, "", true, false, notImplemented + "\r\n", 120},
	             {"ownerroll", 64, nullptr, "", false, false, emptyTable, 120},
	             {"ownerroll", 32, nullptr, "", false, false, emptyTable, 120},
	             {"ownerroll", 64, nullptr, "x", true, false, emptyTable, 120},
	             {"ownerroll", 64, nullptr, "", true, true, "", 1},
	             {"taskroll", 32, "5", "", true, false, line + "5: Access denied.\r\n\r\n", 5},
	             {"taskroll", 32, "0", "", true, false, line + "0: Success.\r\n\r\n", 1},
	             // No system text: the description is empty, the line still ends.
	             {"taskroll", 32, "0x20001234", "", true, false, line + "536875572: \r\n\r\n", 0x34}};
	// Where no x86 program runs, the x86 rows run the same program built
	// for x86-64.
	const bool x86 = X86Runs();
	for (const auto &c : cases) {
		std::string name = std::string(c.program) + ".exe";
		std::string path = std::string(c.program) + "/" + name;
		const int bits = c.bits == 32 && !x86 ? 64 : c.bits;
		SCOPED_TRACE(path + " x" + std::to_string(bits) + " fail " + (c.fail ? c.fail : "-") +
		             " input \"" + c.input + "\"" + (c.outputGone ? ", output gone" : ""));
		std::string exe = c.fail == nullptr ? Built(bits, path)
		                                    : Folder("failing", bits, path) + "/" + name;
		std::vector<std::string> settings;
		if (c.fail != nullptr)
			settings.push_back(std::string("WTS_STANDIN_FAIL=") + c.fail);
		RunResult r = RunWine(WineCommand(exe, bits, c.fail != nullptr, settings), c.input, c.hold,
		                      c.outputGone);
		EXPECT_FALSE(r.timedOut) << "waited";
		EXPECT_EQ(r.out, c.out);
		EXPECT_EQ(r.status, c.status);
		EXPECT_EQ(r.err, "");
	}
}

} // namespace
