// The Windows zip made by packaging/make-zip from the two cross builds: it
// holds exactly ownerroll.exe (x86-64), taskroll.exe (x86), README.txt and
// LICENSE.txt, the very files of the builds, whose contents the
// wine_binaries test checks, and text for Notepad; it is made with a umask
// and a time zone that must not reach it.
#include "run.h"
#include "text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

static const std::string version = PROJECT_VERSION_TEXT;
static const std::string topDir = "ownerroll-" + version + "-windows";

class WindowsZip : public testing::Test {
protected:
	// The zip and its unpacked contents, in a folder of this test's own.
	struct {
		std::string dir, path, unpacked;
	} zip;

	void SetUp() override
	{
		if (!IsFile(WIN64_BUILD "/ownerroll/ownerroll.exe") || !IsFile(WIN32_BUILD "/taskroll/taskroll.exe"))
			GTEST_SKIP() << "the Windows programs are not built: " WIN64_BUILD "/ownerroll/ownerroll.exe and "
			             << WIN32_BUILD "/taskroll/taskroll.exe (presets mingw64, mingw32)";
		char dir[] = WORK_DIR "/zip.XXXXXX";
		ASSERT_NE(mkdtemp(dir), nullptr);
		zip.dir = dir;
		RunResult made = Shell("umask 002 && env -u SOURCE_DATE_EPOCH TZ=Asia/Tokyo " + Quote(MAKE_ZIP) +
		                       " -o " + Quote(zip.dir) + " " + Quote(WIN64_BUILD) + " " + Quote(WIN32_BUILD));
		ASSERT_EQ(made.status, 0) << made.err;
		zip.path = zip.dir + "/" + topDir + ".zip";
		ASSERT_EQ(made.out, zip.path + "\n");
		zip.unpacked = zip.dir + "/unpacked";
		RunResult x = Shell("mkdir " + Quote(zip.unpacked) + " && cd " + Quote(zip.unpacked) + " && " +
		                    Quote(CMAKE_TOOL) + " -E tar xf " + Quote(zip.path));
		ASSERT_EQ(x.status, 0) << x.err;
	}

	void TearDown() override
	{
		if (!zip.dir.empty())
			Shell("rm -rf " + Quote(zip.dir));
	}

	std::string Unpacked(const std::string &name) { return zip.unpacked + "/" + topDir + "/" + name; }
};

TEST_F(WindowsZip, HoldsExactlyTheTwoProgramsTheReadmeAndTheLicence)
{
	RunResult list = Shell(Quote(CMAKE_TOOL) + " -E tar tf " + Quote(zip.path));
	ASSERT_EQ(list.status, 0) << list.err;
	std::vector<std::string> entries = Lines(list.out);
	std::sort(entries.begin(), entries.end());
	EXPECT_EQ(entries, (std::vector<std::string>{topDir + "/LICENSE.txt", topDir + "/README.txt",
	                                              topDir + "/ownerroll.exe", topDir + "/taskroll.exe"}));

	// The very files of the builds and the source tree, not others of the
	// same name.
	EXPECT_EQ(ReadFile(Unpacked("ownerroll.exe")), ReadFile(WIN64_BUILD "/ownerroll/ownerroll.exe"));
	EXPECT_EQ(ReadFile(Unpacked("taskroll.exe")), ReadFile(WIN32_BUILD "/taskroll/taskroll.exe"));
	EXPECT_EQ(ReadFile(Unpacked("README.txt")), Shell(Quote(SOURCE_DIR "/packaging/windows-readme")).out);
	std::string licence = ReadFile(Unpacked("LICENSE.txt"));
	licence.erase(std::remove(licence.begin(), licence.end(), '\r'), licence.end());
	EXPECT_EQ(licence, ReadFile(SOURCE_DIR "/LICENSE"));
}

// Every entry carries the changelog's time (SOURCE_DATE_EPOCH unset) or
// SOURCE_DATE_EPOCH, and a mode of its own, whatever the umask.
TEST_F(WindowsZip, FilesCarryTheSourceTimeAndFixedModes)
{
	std::string changelog = Shell(Quote(SOURCE_DIR "/packaging/changelog-time")).out;
	std::string other = zip.dir + "/dated";
	RunResult dated = Shell("SOURCE_DATE_EPOCH=1700000000 " + Quote(MAKE_ZIP) + " -o " + Quote(other) + " " +
	                        Quote(WIN64_BUILD) + " " + Quote(WIN32_BUILD));
	ASSERT_EQ(dated.status, 0) << dated.err;
	for (const auto &[path, epoch] : {std::pair{zip.path, changelog.substr(0, changelog.size() - 1)},
	                                  std::pair{other + "/" + topDir + ".zip", std::string("1700000000")}}) {
		std::string expected;
		for (const char *entry : {"644 LICENSE.txt", "644 README.txt", "755 ownerroll.exe", "755 taskroll.exe"})
			expected += std::string(entry, 3) + " " + epoch + " " + topDir + "/" + (entry + 4) + "\n";
		std::string dir = path + ".unpacked";
		EXPECT_EQ(Shell("umask 000 && export TZ=UTC && mkdir " + Quote(dir) + " && cd " + Quote(dir) + " && " +
		                Quote(CMAKE_TOOL) + " -E tar xf " + Quote(path) + " && LC_ALL=C stat -c '%a %Y %n' " +
		                topDir + "/*").out,
		          expected);
	}
}

// README.txt and LICENSE.txt read well in Notepad: CR LF line ends only,
// plain text without Linux set-up, the licence's copyright line.
TEST_F(WindowsZip, TextFilesAreForWindows)
{
	std::string copyright;
	for (const std::string &line : Lines(ReadFile(SOURCE_DIR "/LICENSE")))
		if (copyright.empty() && line.rfind("Copyright ", 0) == 0)
			copyright = line;
	ASSERT_FALSE(copyright.empty());
	for (const char *name : {"README.txt", "LICENSE.txt"}) {
		SCOPED_TRACE(name);
		std::string text = ReadFile(Unpacked(name));
		ASSERT_GT(text.size(), 2u);
		EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
		size_t lineEnds = 0;
		for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
			lineEnds++;
		EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), (long)lineEnds) << "a bare LF";
		EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), (long)lineEnds) << "a bare CR";
		EXPECT_NE(text.find(copyright + "\r\n"), std::string::npos);
	}
	std::string readme = ReadFile(Unpacked("README.txt"));
	for (const char *mark : {"```", "**", "<!--", "](", "apt-get", "apt install", "cmake", "/proc", "sudo"})
		EXPECT_EQ(readme.find(mark), std::string::npos) << mark;
	for (const char *topic : {"ownerroll <NUL", "(\"Run as administrator\")", "Exit statuses\r\n", "LICENSE.txt"})
		EXPECT_NE(readme.find(topic), std::string::npos) << topic;
}

// With the two build folders swapped, each program would be of the wrong
// machine: the script must refuse rather than ship them.
TEST_F(WindowsZip, RefusesProgramsOfTheWrongMachine)
{
	if (!IsFile(WIN32_BUILD "/ownerroll/ownerroll.exe"))
		GTEST_SKIP() << "the 32-bit build has no ownerroll.exe to swap in";
	std::string out = zip.dir + "/swapped";
	RunResult r = Shell(Quote(MAKE_ZIP) + " -o " + Quote(out) + " " + Quote(WIN32_BUILD) + " " + Quote(WIN64_BUILD));
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.err.find("is not an x86-64 program"), std::string::npos) << r.err;
	EXPECT_FALSE(IsFile(out + "/" + topDir + ".zip"));
}
