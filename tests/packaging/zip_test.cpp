// The Windows zip made by packaging/make-zip from the two cross builds: it
// holds exactly ownerroll.exe (x86-64), taskroll.exe (x86), the README and
// the LICENSE, the very files of the builds, whose contents the
// wine_binaries test checks.
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
		RunResult made = Shell(Quote(MAKE_ZIP) + " -o " + Quote(zip.dir) + " " + Quote(WIN64_BUILD) + " " +
		                       Quote(WIN32_BUILD));
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
	EXPECT_EQ(entries, (std::vector<std::string>{topDir + "/LICENSE", topDir + "/README.md",
	                                              topDir + "/ownerroll.exe", topDir + "/taskroll.exe"}));

	// The very files of the builds and the source tree, not others of the
	// same name.
	EXPECT_EQ(ReadFile(Unpacked("ownerroll.exe")), ReadFile(WIN64_BUILD "/ownerroll/ownerroll.exe"));
	EXPECT_EQ(ReadFile(Unpacked("taskroll.exe")), ReadFile(WIN32_BUILD "/taskroll/taskroll.exe"));
	EXPECT_EQ(ReadFile(Unpacked("README.md")), ReadFile(SOURCE_DIR "/README.md"));
	EXPECT_EQ(ReadFile(Unpacked("LICENSE")), ReadFile(SOURCE_DIR "/LICENSE"));
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
