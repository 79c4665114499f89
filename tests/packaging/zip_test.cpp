// The Windows zip made by packaging/make-zip from the two cross builds: it
// holds exactly ownerroll.exe (x86-64), taskroll.exe (x86) and the README,
// each program a console program with its manifest and a version resource
// carrying the project's one version number.
#include "pe.h"
#include "run.h"
#include "text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

static const std::string version = PROJECT_VERSION_TEXT;
static const std::string topDir = "ownerroll-" + version + "-windows";

// The zip and its unpacked contents, in a folder of this test's own.
struct Zip {
	std::string dir;
	std::string path;
	std::string unpacked;
};

class WindowsZip : public testing::Test {
protected:
	Zip zip;

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

TEST_F(WindowsZip, HoldsExactlyTheTwoProgramsAndTheReadme)
{
	RunResult list = Shell(Quote(CMAKE_TOOL) + " -E tar tf " + Quote(zip.path));
	ASSERT_EQ(list.status, 0) << list.err;
	std::vector<std::string> entries = Lines(list.out);
	std::sort(entries.begin(), entries.end());
	EXPECT_EQ(entries, (std::vector<std::string>{topDir + "/README.md", topDir + "/ownerroll.exe",
	                                              topDir + "/taskroll.exe"}));

	// The very files of the builds and the source tree, not others of the
	// same name.
	EXPECT_EQ(ReadFile(Unpacked("ownerroll.exe")), ReadFile(WIN64_BUILD "/ownerroll/ownerroll.exe"));
	EXPECT_EQ(ReadFile(Unpacked("taskroll.exe")), ReadFile(WIN32_BUILD "/taskroll/taskroll.exe"));
	EXPECT_EQ(ReadFile(Unpacked("README.md")), ReadFile(SOURCE_DIR "/README.md"));
}

TEST_F(WindowsZip, ProgramsAreConsoleProgramsOfTheirMachines)
{
	PeImage ownerroll = ReadPeImage(Unpacked("ownerroll.exe"));
	PeImage taskroll = ReadPeImage(Unpacked("taskroll.exe"));
	ASSERT_EQ(ownerroll.error, "");
	ASSERT_EQ(taskroll.error, "");
	EXPECT_EQ(ownerroll.machine, 0x8664);
	EXPECT_EQ(taskroll.machine, 0x14c);
	EXPECT_EQ(ownerroll.subsystem, 3);
	EXPECT_EQ(taskroll.subsystem, 3);

	// The toolchain's own reading of the same headers.
	if (std::string(MINGW_OBJDUMP).empty())
		return;
	RunResult r64 = Shell(Quote(MINGW_OBJDUMP) + " -f " + Quote(Unpacked("ownerroll.exe")));
	ASSERT_EQ(r64.status, 0) << r64.err;
	EXPECT_NE(r64.out.find("file format pei-x86-64\narchitecture: i386:x86-64,"), std::string::npos) << r64.out;
	RunResult r32 = Shell(Quote(MINGW_OBJDUMP) + " -f " + Quote(Unpacked("taskroll.exe")));
	ASSERT_EQ(r32.status, 0) << r32.err;
	EXPECT_NE(r32.out.find("file format pei-i386\narchitecture: i386,"), std::string::npos) << r32.out;
}

TEST_F(WindowsZip, ProgramsCarryTheManifest)
{
	for (const std::string program : {"ownerroll", "taskroll"}) {
		std::string manifest;
		ASSERT_TRUE(FindResource(ReadPeImage(Unpacked(program + ".exe")), 24, 1, manifest)) << program;
		EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\""),
		          std::string::npos)
		    << program << ":\n"
		    << manifest;
	}
}

TEST_F(WindowsZip, ProgramsCarryTheProjectVersion)
{
	unsigned major = 0, minor = 0, patch = 0;
	ASSERT_EQ(sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch), 3) << version;
	for (const std::string program : {"ownerroll", "taskroll"}) {
		std::string data;
		ASSERT_TRUE(FindResource(ReadPeImage(Unpacked(program + ".exe")), 16, 1, data)) << program;
		VersionInfo info = ParseVersionInfo(data);
		ASSERT_TRUE(info.valid) << program;
		EXPECT_EQ(info.fileVersionMS, major << 16 | minor) << program;
		EXPECT_EQ(info.fileVersionLS, patch << 16) << program;
		EXPECT_EQ(info.productVersionMS, major << 16 | minor) << program;
		EXPECT_EQ(info.productVersionLS, patch << 16) << program;
		for (const std::string &expected :
		     {std::string("ProductName=ownerroll"), "ProductVersion=" + version, "FileVersion=" + version,
		      "InternalName=" + program, "OriginalFilename=" + program + ".exe"})
			EXPECT_NE(std::find(info.strings.begin(), info.strings.end(), expected), info.strings.end())
			    << program << " lacks " << expected;
	}
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
