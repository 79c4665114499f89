// The Windows programs as built: their executable files, and their runs
// under Wine, whose Windows API serves the level-1 process enumeration only
// with "not implemented" (error 120). That drives the failure paths through
// a real implementation of the system's services, the error text and the C
// runtime's text-mode output included.
//
// Options (after GoogleTest's): --win64=DIR --win32=DIR (the cross-build
// folders), --manifest=FILE, --wine=PROGRAM, --prefix=DIR, --objdump=PROGRAM,
// --script=PROGRAM. A test whose tools or programs are missing is skipped
// with the reason; when nothing ran but skips, the exit status is 77.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "pe.h"
#include "run.h"

namespace {

std::string win64Dir, win32Dir, manifestPath, winePath, prefixPath, objdumpPath,
	scriptPath;

struct Program {
	const char *name;   // ownerroll, taskroll or the output probe
	const char *subdir; // folder of the build holding it
	int bits;
};

const Program ownerroll64 = {"ownerroll", "ownerroll", 64};
const Program ownerroll32 = {"ownerroll", "ownerroll", 32};
const Program taskroll64 = {"taskroll", "taskroll", 64};
const Program taskroll32 = {"taskroll", "taskroll", 32};
const Program probe64 = {"output_probe", "common/win", 64};
const Program probe32 = {"output_probe", "common/win", 32};

std::string ExePath(const Program &p)
{
	return (p.bits == 64 ? win64Dir : win32Dir) + "/" + p.subdir + "/" + p.name + ".exe";
}

bool IsFile(const std::string &path)
{
	struct stat st;
	return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsProgram(const std::string &path)
{
	return IsFile(path) && access(path.c_str(), X_OK) == 0;
}

std::string ReadFile(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Lower(std::string s)
{
	for (char &c : s)
		c = (char)std::tolower((unsigned char)c);
	return s;
}

std::string Capture(const std::string &command)
{
	std::string out;
	FILE *f = popen(command.c_str(), "r");
	if (f == nullptr)
		return out;
	char buf[4096];
	size_t n;
	while ((n = fread(buf, 1, sizeof buf, f)) > 0)
		out.append(buf, n);
	pclose(f);
	return out;
}

std::string MissingBuild(const Program &p)
{
	return ExePath(p) + " is not built (cmake --preset " +
	       (p.bits == 64 ? "mingw64" : "mingw32") + " && cmake --build --preset " +
	       (p.bits == 64 ? "mingw64" : "mingw32") + ")";
}

#define SKIP_UNLESS_BUILT(p)                                                     \
	do {                                                                         \
		if (!IsFile(ExePath(p)))                                                 \
			GTEST_SKIP() << MissingBuild(p);                                     \
	} while (0)

#define SKIP_UNLESS_WINE()                                                       \
	do {                                                                         \
		if (!IsProgram(winePath))                                                \
			GTEST_SKIP() << "wine is not installed (Debian: dpkg --add-architecture " \
			                "i386; apt-get install wine wine64 wine32:i386)";    \
		if (!IsFile(prefixPath + "/system.reg"))                                 \
			GTEST_SKIP() << "the Wine prefix " << prefixPath                     \
			             << " is not prepared (the wine_prefix_setup test does it)"; \
	} while (0)

// Runs a Windows program under Wine in the tests' own prefix, with a
// known language for the system's texts and no display.
RunResult RunUnderWine(const Program &p, const std::string &input, bool holdInput,
                       const std::string &lang = "C")
{
	return RunProgram({"/usr/bin/env", "WINEPREFIX=" + prefixPath, "WINEDEBUG=-all",
	                   "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=", "WAYLAND_DISPLAY=",
	                   "LANG=" + lang, "LC_ALL=" + lang, winePath, ExePath(p)},
	                  input, holdInput, 60);
}

// ---------------------------------------------------------------------------
// The executable files.

std::vector<std::string> DllNames(const PeImage &image)
{
	std::vector<std::string> names;
	for (const PeImport &i : image.imports)
		names.push_back(Lower(i.dll));
	std::sort(names.begin(), names.end());
	return names;
}

const PeImport *FindImport(const PeImage &image, const std::string &dll)
{
	for (const PeImport &i : image.imports)
		if (Lower(i.dll) == dll)
			return &i;
	return nullptr;
}

void ExpectMachine(const Program &p, uint16_t machine, uint16_t magic)
{
	PeImage image = ReadPeImage(ExePath(p));
	ASSERT_EQ(image.error, "") << ExePath(p);
	EXPECT_EQ(image.machine, machine) << ExePath(p);
	EXPECT_EQ(image.magic, magic) << ExePath(p);
	EXPECT_EQ(image.subsystem, 3) << ExePath(p) << ": not the console subsystem";
	EXPECT_TRUE(image.characteristics & 0x0002) << ExePath(p) << ": not executable";
	EXPECT_FALSE(image.characteristics & 0x2000) << ExePath(p) << ": a DLL";
}

TEST(WinBinaries, MachineAndConsoleSubsystem)
{
	SKIP_UNLESS_BUILT(ownerroll64);
	SKIP_UNLESS_BUILT(taskroll32);
	// The deliverables: ownerroll for x86-64, taskroll for x86.
	ExpectMachine(ownerroll64, 0x8664, 0x20B);
	ExpectMachine(taskroll32, 0x14C, 0x10B);
	// The same sources built the other way round.
	if (IsFile(ExePath(ownerroll32))) {
		ExpectMachine(ownerroll32, 0x14C, 0x10B);
	}
	if (IsFile(ExePath(taskroll64))) {
		ExpectMachine(taskroll64, 0x8664, 0x20B);
	}
}

TEST(WinBinaries, ManifestResource)
{
	SKIP_UNLESS_BUILT(ownerroll64);
	SKIP_UNLESS_BUILT(taskroll32);
	std::string manifest = ReadFile(manifestPath);
	ASSERT_FALSE(manifest.empty()) << manifestPath;
	// The one file says what the programs ask of the system.
	EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
	          std::string::npos);
	EXPECT_NE(manifest.find("xmlns=\"urn:schemas-microsoft-com:asm.v3\""), std::string::npos);

	for (const Program *p : {&ownerroll64, &taskroll32, &ownerroll32, &taskroll64}) {
		if (!IsFile(ExePath(*p)))
			continue;
		PeImage image = ReadPeImage(ExePath(*p));
		ASSERT_EQ(image.error, "") << ExePath(*p);
		std::vector<const PeResource *> manifests;
		for (const PeResource &r : image.resources)
			if (r.type == 24)
				manifests.push_back(&r);
		ASSERT_EQ(manifests.size(), 1u) << ExePath(*p) << ": one manifest resource";
		EXPECT_EQ(manifests[0]->id, 1u) << ExePath(*p);
		EXPECT_EQ(manifests[0]->data, manifest) << ExePath(*p);
	}
}

TEST(WinBinaries, ImportsOnlySystemDlls)
{
	SKIP_UNLESS_BUILT(ownerroll64);
	SKIP_UNLESS_BUILT(taskroll32);
	// No runtime DLL of the toolchain (libstdc++, libgcc, libwinpthread):
	// only what every Windows has.
	const std::vector<std::string> ownerrollDlls = {"advapi32.dll", "kernel32.dll",
	                                                "msvcrt.dll", "wtsapi32.dll"};
	const std::vector<std::string> taskrollDlls = {"kernel32.dll", "msvcrt.dll",
	                                               "wtsapi32.dll"};
	EXPECT_EQ(DllNames(ReadPeImage(ExePath(ownerroll64))), ownerrollDlls);
	EXPECT_EQ(DllNames(ReadPeImage(ExePath(taskroll32))), taskrollDlls);
	if (IsFile(ExePath(ownerroll32))) {
		EXPECT_EQ(DllNames(ReadPeImage(ExePath(ownerroll32))), ownerrollDlls);
	}
	if (IsFile(ExePath(taskroll64))) {
		EXPECT_EQ(DllNames(ReadPeImage(ExePath(taskroll64))), taskrollDlls);
	}
}

TEST(WinBinaries, EnumerationImportedByName)
{
	SKIP_UNLESS_BUILT(ownerroll64);
	SKIP_UNLESS_BUILT(taskroll32);
	for (const Program *p : {&ownerroll64, &taskroll32, &ownerroll32, &taskroll64}) {
		if (!IsFile(ExePath(*p)))
			continue;
		PeImage image = ReadPeImage(ExePath(*p));
		ASSERT_EQ(image.error, "") << ExePath(*p);
		const PeImport *wts = FindImport(image, "wtsapi32.dll");
		ASSERT_NE(wts, nullptr) << ExePath(*p);
		std::vector<std::string> names = wts->byName;
		std::sort(names.begin(), names.end());
		std::vector<std::string> expected = {"WTSEnumerateProcessesExW"};
		if (std::string(p->name) == "ownerroll")
			expected.push_back("WTSFreeMemoryExW");
		EXPECT_EQ(names, expected) << ExePath(*p);
		EXPECT_TRUE(wts->byOrdinal.empty()) << ExePath(*p);
		// One descriptor for the DLL, not one per import library.
		EXPECT_EQ(std::count_if(image.imports.begin(), image.imports.end(),
		                        [](const PeImport &i) { return Lower(i.dll) == "wtsapi32.dll"; }),
		          1) << ExePath(*p);
	}
}

// The toolchain's own reader sees the same as ours.
TEST(WinBinaries, ObjdumpAgrees)
{
	SKIP_UNLESS_BUILT(ownerroll64);
	SKIP_UNLESS_BUILT(taskroll32);
	if (!IsProgram(objdumpPath))
		GTEST_SKIP() << "x86_64-w64-mingw32-objdump not found (binutils-mingw-w64-x86-64)";
	struct {
		const Program *p;
		const char *format;
	} cases[] = {{&ownerroll64, "file format pei-x86-64"}, {&taskroll32, "file format pei-i386"}};
	for (const auto &c : cases) {
		std::string exe = ExePath(*c.p);
		EXPECT_NE(Capture(objdumpPath + " -f '" + exe + "'").find(c.format), std::string::npos)
			<< exe;
		std::string headers = Capture(objdumpPath + " -p '" + exe + "'");
		EXPECT_NE(headers.find("(Windows CUI)"), std::string::npos) << exe;
		std::vector<std::string> dlls;
		const std::string tag = "DLL Name: ";
		for (size_t at = headers.find(tag); at != std::string::npos;
		     at = headers.find(tag, at + 1)) {
			size_t end = headers.find('\n', at);
			dlls.push_back(Lower(headers.substr(at + tag.size(), end - at - tag.size())));
		}
		std::sort(dlls.begin(), dlls.end());
		EXPECT_EQ(dlls, DllNames(ReadPeImage(exe))) << exe;
		EXPECT_NE(headers.find("WTSEnumerateProcessesExW"), std::string::npos) << exe;
	}
}

// ---------------------------------------------------------------------------
// The programs under Wine.
//
// Wine's text for error 120 is "Call not implemented.\r\n". Through the C
// runtime's standard output in text mode every line feed becomes CR LF and
// a carriage return stays as it is: the text's own CR LF comes out as
// CR CR LF. On a Windows console the wide text goes out untouched.

const std::string errorLine =
	"Error: WTSEnumerateProcessesEx failed with error 120: Call not implemented.\r\r\n";

// taskroll: the error line with its own line feed, then exit status 120,
// without reading standard input.
const std::string taskrollOutput = errorLine + "\r\n";

// ownerroll: the error line ends in a blank, which starts the next output;
// then no rows and the closing line.
const std::string ownerrollOutput = errorLine +
	" Processes Found: 0\r\n\r\n"
	"#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\r\n\r\n"
	"\r\n\r\nDone! Please any key to exit()\r\n";

TEST(WineTaskroll, ReportsNotImplementedAndEnds)
{
	for (const Program *p : {&taskroll32, &taskroll64}) {
		if (p == &taskroll32) {
			SKIP_UNLESS_BUILT(*p);
		} else if (!IsFile(ExePath(*p))) {
			continue;
		}
		SKIP_UNLESS_WINE();
		// Standard input stays open: a program that read it would wait
		// until it is killed.
		RunResult r = RunUnderWine(*p, "", true);
		EXPECT_FALSE(r.timedOut) << ExePath(*p) << " waited for input";
		EXPECT_EQ(r.out, taskrollOutput) << ExePath(*p);
		EXPECT_EQ(r.status, 120) << ExePath(*p);
		EXPECT_EQ(r.err, "") << ExePath(*p);
	}
}

TEST(WineOwnerroll, ReportsNotImplementedAndCarriesOn)
{
	for (const Program *p : {&ownerroll64, &ownerroll32}) {
		if (p == &ownerroll64) {
			SKIP_UNLESS_BUILT(*p);
		} else if (!IsFile(ExePath(*p))) {
			continue;
		}
		SKIP_UNLESS_WINE();
		RunResult r = RunUnderWine(*p, "", false);
		EXPECT_FALSE(r.timedOut) << ExePath(*p);
		EXPECT_EQ(r.out, ownerrollOutput) << ExePath(*p);
		EXPECT_EQ(r.status, 0) << ExePath(*p);
		EXPECT_EQ(r.err, "") << ExePath(*p);
	}
}

// One character ends the wait although standard input stays open.
TEST(WineOwnerroll, OneCharacterEndsTheWait)
{
	SKIP_UNLESS_BUILT(ownerroll64);
	SKIP_UNLESS_WINE();
	RunResult r = RunUnderWine(ownerroll64, "x", true);
	EXPECT_FALSE(r.timedOut) << "still waiting after one character";
	EXPECT_EQ(r.out, ownerrollOutput);
	EXPECT_EQ(r.status, 0);
}

// ---------------------------------------------------------------------------
// The output routine on Windows, through the probe program.

std::string Utf8(char32_t c)
{
	std::string s;
	if (c < 0x80) {
		s += (char)c;
	} else if (c < 0x800) {
		s += (char)(0xC0 | (c >> 6));
		s += (char)(0x80 | (c & 0x3F));
	} else if (c < 0x10000) {
		s += (char)(0xE0 | (c >> 12));
		s += (char)(0x80 | ((c >> 6) & 0x3F));
		s += (char)(0x80 | (c & 0x3F));
	} else {
		s += (char)(0xF0 | (c >> 18));
		s += (char)(0x80 | ((c >> 12) & 0x3F));
		s += (char)(0x80 | ((c >> 6) & 0x3F));
		s += (char)(0x80 | (c & 0x3F));
	}
	return s;
}

TEST(WineOutput, StreamGetsUtf8WithCrLf)
{
	const std::string fffd = Utf8(0xFFFD);
	std::string expected = "stream\r\n";
	expected += "gr" + Utf8(0xFC) + Utf8(0xDF) + " " + Utf8(0x20AC) + " " + Utf8(0x1F600) +
	            "|-7|" + Utf8(0x65E5) + Utf8(0x672C) + "\r\n";
	expected += "<" + fffd + "><" + fffd + ">\r\n";
	expected += "[" + fffd + fffd + "]\r\n";
	expected += std::string(2047, 'a') + Utf8(0x1F600) + std::string(2050, 'a') + "\r\n";

	SKIP_UNLESS_BUILT(probe64);
	SKIP_UNLESS_WINE();
	for (const Program *p : {&probe64, &probe32}) {
		if (!IsFile(ExePath(*p)))
			continue;
		RunResult r = RunUnderWine(*p, "", false);
		EXPECT_FALSE(r.timedOut) << ExePath(*p);
		EXPECT_EQ(r.status, 0) << ExePath(*p);
		EXPECT_EQ(r.out, expected) << ExePath(*p);
	}
}

// On a terminal Wine gives the program a console: the text goes through
// WriteConsoleW, and Wine's console writes it to the terminal in the
// locale's encoding, with terminal controls of its own around it. Only
// the text is compared.
TEST(WineOutput, ConsoleGetsWideText)
{
	SKIP_UNLESS_BUILT(probe64);
	SKIP_UNLESS_WINE();
	if (!IsProgram(scriptPath))
		GTEST_SKIP() << "script not found (bsdutils): no terminal to give the program";
	std::string command = "WINEPREFIX='" + prefixPath + "' '" + winePath + "' '" +
	                      ExePath(probe64) + "'";
	RunResult r = RunProgram({"/usr/bin/env", "WINEDEBUG=-all",
	                          "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=",
	                          "WAYLAND_DISPLAY=", "LANG=C.UTF-8", "LC_ALL=C.UTF-8",
	                          "TERM=dumb", scriptPath, "-qfec", command, "/dev/null"},
	                         "", false, 60);
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("console\r"), std::string::npos) << r.out;
	EXPECT_EQ(r.out.find("stream"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("gr" + Utf8(0xFC) + Utf8(0xDF) + " " + Utf8(0x20AC) + " "),
	          std::string::npos)
		<< r.out;
	EXPECT_NE(r.out.find("|-7|" + Utf8(0x65E5) + Utf8(0x672C)), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("<" + Utf8(0xFFFD) + "><" + Utf8(0xFFFD) + ">"), std::string::npos)
		<< r.out;
}

std::string Option(const std::string &arg, const std::string &name)
{
	std::string prefix = "--" + name + "=";
	return arg.compare(0, prefix.size(), prefix) == 0 ? arg.substr(prefix.size()) : "";
}

} // namespace

int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	for (int i = 1; i < argc; i++) {
		std::string arg = argv[i];
		for (auto [name, value] :
		     std::vector<std::pair<const char *, std::string *>>{{"win64", &win64Dir},
		                                                         {"win32", &win32Dir},
		                                                         {"manifest", &manifestPath},
		                                                         {"wine", &winePath},
		                                                         {"prefix", &prefixPath},
		                                                         {"objdump", &objdumpPath},
		                                                         {"script", &scriptPath}})
			if (!Option(arg, name).empty())
				*value = Option(arg, name);
	}
	int status = RUN_ALL_TESTS();
	const testing::UnitTest &unit = *testing::UnitTest::GetInstance();
	if (status == 0 && unit.successful_test_count() == 0 && unit.skipped_test_count() > 0)
		return 77;
	return status;
}

// ---------------------------------------------------------------------------
// A closed pipe on standard output.

// A reader that has gone ends ownerroll.exe at once (standard input stays
// open, so a wait would last until it is killed), silently, and never as a
// success.
TEST(WineClosedPipe, EndsOwnerrollWithoutWaitingAndNotZero)
{
	SKIP_UNLESS_BUILT(ownerroll64);
	SKIP_UNLESS_WINE();
	RunResult r = RunProgram({"/usr/bin/env", "WINEPREFIX=" + prefixPath, "WINEDEBUG=-all",
	                          "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=",
	                          "WAYLAND_DISPLAY=", winePath, ExePath(ownerroll64)},
	                         "", true, 60, {}, true);
	EXPECT_FALSE(r.timedOut) << "waited for a key after a failed write";
	EXPECT_EQ(r.signal, 0);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "");
}
