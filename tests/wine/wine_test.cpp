// The Windows programs as built: their executable files, and the output
// routine under Wine through a probe program. A test whose tools or
// programs are missing is skipped with the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "pe.h"
#include "text.h"
#include "wine.h"

namespace {

struct Program {
	const char *name; // NAME/NAME.exe in the build folder
	int bits;
	bool deliverable; // the programs shipped: ownerroll x86-64, taskroll x86
};

// The deliverables first; the same sources built the other way round are
// checked where they are built.
const Program programs[] = {{"ownerroll", 64, true},
                            {"taskroll", 32, true},
                            {"ownerroll", 32, false},
                            {"taskroll", 64, false}};

std::string Exe(const Program &p)
{
	return Built(p.bits, std::string(p.name) + "/" + p.name + ".exe");
}

// Why the deliverables cannot be checked, or "".
std::string NotBuilt()
{
	for (const Program &p : programs)
		if (p.deliverable && !IsFile(Exe(p)))
			return Exe(p) + " is not built (cmake --preset mingw" + std::to_string(p.bits) +
			       " && cmake --build --preset mingw" + std::to_string(p.bits) + ")";
	return "";
}

std::string Lower(std::string s)
{
	for (char &c : s)
		c = (char)std::tolower((unsigned char)c);
	return s;
}

std::vector<std::string> DllNames(const PeImage &image)
{
	std::vector<std::string> names;
	for (const PeImport &i : image.imports)
		names.push_back(Lower(i.dll));
	std::sort(names.begin(), names.end());
	return names;
}

// ---------------------------------------------------------------------------
// The executable files.

void ExpectImports(const Program &p, const PeImage &image)
{
	// No runtime DLL of the toolchain (libstdc++, libgcc, libwinpthread):
	// only what every Windows has.
	std::vector<std::string> dlls = {"kernel32.dll", "msvcrt.dll", "wtsapi32.dll"};
	std::vector<std::string> wtsNames = {"WTSEnumerateProcessesExW"};
	if (std::string(p.name) == "ownerroll") {
		dlls.insert(dlls.begin(), "advapi32.dll");
		wtsNames.push_back("WTSFreeMemoryExW");
	}
	EXPECT_EQ(DllNames(image), dlls);
	// One descriptor for the DLL, not one per import library, and every
	// call imported by name.
	for (const PeImport &i : image.imports) {
		if (Lower(i.dll) != "wtsapi32.dll")
			continue;
		std::vector<std::string> names = i.byName;
		std::sort(names.begin(), names.end());
		EXPECT_EQ(names, wtsNames);
		EXPECT_TRUE(i.byOrdinal.empty());
	}
}

void ExpectVersion(const Program &p, const PeImage &image)
{
	const std::string version = PROJECT_VERSION_TEXT;
	unsigned major = 0, minor = 0, patch = 0;
	ASSERT_EQ(sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch), 3) << version;
	std::string data;
	for (const PeResource &r : image.resources)
		if (r.type == 16 && r.id == 1)
			data = r.data;
	VersionInfo info = ParseVersionInfo(data);
	ASSERT_TRUE(info.valid);
	EXPECT_EQ(info.fileVersionMS, major << 16 | minor);
	EXPECT_EQ(info.fileVersionLS, patch << 16);
	EXPECT_EQ(info.productVersionMS, major << 16 | minor);
	EXPECT_EQ(info.productVersionLS, patch << 16);
	for (const auto &[key, value] :
	     std::vector<std::pair<std::string, std::string>>{{"ProductName", "ownerroll"},
	                                                      {"ProductVersion", version},
	                                                      {"FileVersion", version},
	                                                      {"InternalName", p.name},
	                                                      {"OriginalFilename", p.name + std::string(".exe")}})
		EXPECT_NE(info.text.find("\x01" + key + '\0' + value + '\0'), std::string::npos)
			<< "lacks " << key << " " << value;
}

// Machine, console subsystem, manifest, imports and version of each program.
TEST(WinBinaries, EachProgramAsBuilt)
{
	if (!NotBuilt().empty())
		GTEST_SKIP() << NotBuilt();
	std::string manifest = ReadFile(setup.manifest);
	// The one file says what the programs ask of the system.
	EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
	          std::string::npos)
		<< setup.manifest;
	EXPECT_NE(manifest.find("xmlns=\"urn:schemas-microsoft-com:asm.v3\""), std::string::npos);
	for (const Program &p : programs) {
		if (!IsFile(Exe(p)))
			continue;
		SCOPED_TRACE(Exe(p));
		PeImage image = ReadPeImage(Exe(p));
		ASSERT_EQ(image.error, "");
		EXPECT_EQ(image.machine, p.bits == 64 ? 0x8664 : 0x14C);
		EXPECT_EQ(image.magic, p.bits == 64 ? 0x20B : 0x10B);
		EXPECT_EQ(image.subsystem, 3) << "not the console subsystem";
		EXPECT_TRUE(image.characteristics & 0x0002) << "not executable";
		EXPECT_FALSE(image.characteristics & 0x2000) << "a DLL";
		// ASLR (high entropy where the address space allows), DEP, and
		// terminal-server aware, as the platform's linker marks a console
		// program: without the mark a terminal server runs it with the
		// per-user mapping of INI files and registry keys kept for older
		// programs.
		uint16_t security = 0x0040 | 0x0100 | 0x8000 | (p.bits == 64 ? 0x0020 : 0);
		EXPECT_EQ(image.dllCharacteristics & 0x8160, security) << std::hex << image.dllCharacteristics;
		int manifests = 0;
		for (const PeResource &r : image.resources)
			if (r.type == 24) {
				manifests++;
				EXPECT_EQ(r.id, 1u);
				EXPECT_EQ(r.data, manifest);
			}
		EXPECT_EQ(manifests, 1);
		ExpectImports(p, image);
		ExpectVersion(p, image);
	}
}

// The toolchain's own reader sees the same as ours.
TEST(WinBinaries, ObjdumpAgrees)
{
	if (!NotBuilt().empty())
		GTEST_SKIP() << NotBuilt();
	if (!IsProgram(setup.objdump))
		GTEST_SKIP() << "x86_64-w64-mingw32-objdump not found (binutils-mingw-w64-x86-64)";
	for (const Program &p : programs) {
		if (!p.deliverable)
			continue;
		std::string exe = Exe(p);
		RunResult format = RunProgram({setup.objdump, "-f", exe}, "");
		EXPECT_NE(format.out.find(p.bits == 64 ? "file format pei-x86-64\narchitecture: i386:x86-64,"
		                                        : "file format pei-i386\narchitecture: i386,"),
		          std::string::npos)
			<< format.out;
		std::string headers = RunProgram({setup.objdump, "-p", exe}, "").out;
		EXPECT_NE(headers.find("(Windows CUI)"), std::string::npos) << exe;
		for (const char *flag : {"DYNAMIC_BASE", "NX_COMPAT", "TERMINAL_SERVICE_AWARE"})
			EXPECT_NE(headers.find(std::string("\t") + flag + "\n"), std::string::npos) << flag << "\n" << headers;
		// The same DLLs, as many as ours finds.
		PeImage image = ReadPeImage(exe);
		size_t named = 0;
		for (size_t at = headers.find("DLL Name: "); at != std::string::npos;
		     at = headers.find("DLL Name: ", at + 1))
			named++;
		EXPECT_EQ(named, image.imports.size()) << headers;
		for (const PeImport &i : image.imports)
			EXPECT_NE(headers.find("DLL Name: " + i.dll + "\n"), std::string::npos) << i.dll;
		EXPECT_NE(headers.find("WTSEnumerateProcessesExW"), std::string::npos) << exe;
	}
}

// ---------------------------------------------------------------------------
// The output routine on Windows, through the probe program.

std::string Probe(int bits)
{
	return Built(bits, "common/win/output_probe.exe");
}

// The probe's second and third lines; on a console the character outside
// the BMP is left out of the comparison.
const std::string before = "gr\u00FC\u00DF \u20AC ", after = "|-7|\u65E5\u672C";
const std::string lone = "<\uFFFD><\uFFFD>";

TEST(WineOutput, StreamGetsUtf8WithCrLf)
{
	std::string expected = "stream\r\n" + before + "\U0001F600" + after + "\r\n" + lone + "\r\n" +
	                       "[\uFFFD\uFFFD]\r\n" + std::string(2047, 'a') + "\U0001F600" +
	                       std::string(2050, 'a') + "\r\n";
	if (!IsFile(Probe(64)))
		GTEST_SKIP() << Probe(64) << " is not built (preset mingw64)";
	if (!WineMissing().empty())
		GTEST_SKIP() << WineMissing();
	for (int bits : Architectures()) {
		std::string exe = Probe(bits);
		if (!IsFile(exe))
			continue;
		RunResult r = RunWine(WineCommand(exe, bits, false), "", false);
		EXPECT_FALSE(r.timedOut) << exe;
		EXPECT_EQ(r.status, 0) << exe;
		EXPECT_EQ(r.out, expected) << exe;
	}
}

// On a terminal Wine gives the program a console: the text goes through
// WriteConsoleW, and Wine's console writes it to the terminal in the
// locale's encoding, with terminal controls of its own around it. Only
// the text is compared.
TEST(WineOutput, ConsoleGetsWideText)
{
	if (!IsFile(Probe(64)))
		GTEST_SKIP() << Probe(64) << " is not built (preset mingw64)";
	if (!WineMissing().empty())
		GTEST_SKIP() << WineMissing();
	if (!IsProgram(setup.script))
		GTEST_SKIP() << "script not found (bsdutils): no terminal to give the program";
	RunResult r = RunWine(OnTerminal(WineCommand(Probe(64), 64, false)), "", false);
	EXPECT_FALSE(r.timedOut);
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.out.find("console\r"), std::string::npos) << r.out;
	EXPECT_EQ(r.out.find("stream"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find(before), std::string::npos) << r.out;
	EXPECT_NE(r.out.find(after), std::string::npos) << r.out;
	EXPECT_NE(r.out.find(lone), std::string::npos) << r.out;
}

} // namespace
