// The bytes formatted output and error reports bring to standard output,
// from a child that writes through the console support.
#include <string>

#include <gtest/gtest.h>

#include "output.h"
#include "run.h"

static RunResult Probe(const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {CONSOLE_PROBE};
	argv.insert(argv.end(), args.begin(), args.end());
	return RunProgram(argv, "");
}

static const std::string replacement = "\xEF\xBF\xBD";
static const std::string grinning = "\xF0\x9F\x98\x80";

TEST(ConsoleOutput, FixedTextByteForByteAndOtherTextAsUtf8)
{
	RunResult r = Probe({"text"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Processes Found: 3\n\n"
	                 "-1\t2147483647\tinit\t%\t%x\n"
	                 "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD|" + grinning +
	                 "\xF0\x90\x8D\x88\n"
	                 "(null)\n"
	                 "end%");
	EXPECT_EQ(r.err, "");
}

TEST(ConsoleOutput, UnpairedSurrogatesBecomeReplacementCharacters)
{
	RunResult r = Probe({"unpaired"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "a" + replacement + "b\n" +
	                 "a" + replacement + "b\n" +
	                 "a" + replacement + replacement + "c\n" +
	                 replacement + grinning + "\n");
}

TEST(ConsoleOutput, PairsOnChunkEdgesComeOutWhole)
{
	std::string expected;
	for (int k : {CONSOLE_CHUNK - 3, CONSOLE_CHUNK - 2, CONSOLE_CHUNK - 1, CONSOLE_CHUNK,
	              CONSOLE_CHUNK + 1, 2 * CONSOLE_CHUNK - 1, 2 * CONSOLE_CHUNK}) {
		std::string line;
		for (int i = 0; i < k; i++)
			line += (char)('a' + i % 26);
		line += grinning + "\n";
		expected += line + line;
	}
	RunResult r = Probe({"chunks"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out.size(), expected.size());
	EXPECT_TRUE(r.out == expected) << "output differs from the expected lines";
	EXPECT_EQ(r.out.find(replacement), std::string::npos);
}

static const std::string ioLine =
	"Error: WTSEnumerateProcessesEx failed with error 5: Input/output error\n ";

TEST(ReportLastError, PrintsTheLineAndReturns)
{
	RunResult r = Probe({"report", "5"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "before\n" + ioLine + "after\n");
}

TEST(ReportLastError, FatalEndsWithTheCodeAndLosesNothing)
{
	RunResult r = Probe({"report", "5", "fatal"});
	EXPECT_EQ(r.status, 5);
	EXPECT_EQ(r.signal, 0);
	EXPECT_EQ(r.out, "before\n" + ioLine);

	r = Probe({"report", "2", "fatal"});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out, "before\nError: WTSEnumerateProcessesEx failed with error 2: "
	                 "No such file or directory\n ");
}

TEST(ReportLastError, CodeWithoutSystemTextHasAnEmptyDescription)
{
	RunResult r = Probe({"report", "4000"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "before\nError: WTSEnumerateProcessesEx failed with error 4000:  after\n");
}

TEST(ReportLastError, HighCodesPrintNegativeAndStillFailTheProcess)
{
	RunResult r = Probe({"report", "0xC0000005", "fatal"});
	EXPECT_EQ(r.status, 5);
	EXPECT_EQ(r.out, "before\nError: WTSEnumerateProcessesEx failed with error -1073741819:  ");

	// The low 8 bits of 256 are 0; the end must still read as failure.
	r = Probe({"report", "256", "fatal"});
	EXPECT_NE(r.status, 0);
	EXPECT_EQ(r.signal, 0);
	EXPECT_EQ(r.out, "before\nError: WTSEnumerateProcessesEx failed with error 256:  ");
}
