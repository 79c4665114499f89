// The Windows programs as built: their executable files, and the output
// routine under Wine through a probe program. A test whose tools or
// programs are missing is skipped with the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

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

// The toolchain's own readers: objdump -p for the headers and imports,
// windres for the resources, as a resource script.
std::string Tool(const std::string &name)
{
	return setup.objdump.substr(0, setup.objdump.rfind("objdump")) + name;
}

std::string Lower(std::string s)
{
	for (char &c : s)
		c = (char)std::tolower((unsigned char)c);
	return s;
}

// The DLLs objdump lists, lower case, each with the names imported from
// it; one entry per import descriptor.
std::vector<std::pair<std::string, std::vector<std::string>>> Imports(const std::string &headers)
{
	std::vector<std::pair<std::string, std::vector<std::string>>> dlls;
	size_t from = headers.find("The Import Tables");
	if (from == std::string::npos)
		return dlls;
	// Each import a line "\tvma ... name", the name last (binutils 2.40:
	// "vma\t hint  name"; 2.44: "vma  ordinal  hint  name").
	for (const std::string &line : Lines(headers.substr(from, headers.find("\nThe ", from) - from))) {
		if (line.compare(0, 11, "\tDLL Name: ") == 0)
			dlls.push_back({Lower(line.substr(11)), {}});
		else if (!dlls.empty() && line[0] == '\t' && line.find("vma:") == std::string::npos)
			dlls.back().second.push_back(line.substr(line.find_last_of(" \t") + 1));
	}
	return dlls;
}

void ExpectImports(const Program &p, const std::string &headers)
{
	// No runtime DLL of the toolchain (libstdc++, libgcc, libwinpthread):
	// only what every Windows has, one descriptor each, every call by name.
	std::vector<std::string> dlls = {"kernel32.dll", "msvcrt.dll", "wtsapi32.dll"};
	std::vector<std::string> wtsNames = {"WTSEnumerateProcessesExW"};
	if (std::string(p.name) == "ownerroll") {
		dlls.insert(dlls.begin(), "advapi32.dll");
		wtsNames.push_back("WTSFreeMemoryExW");
	}
	std::vector<std::string> found;
	for (const auto &[dll, names] : Imports(headers)) {
		found.push_back(dll);
		if (dll == "wtsapi32.dll") {
			std::vector<std::string> sorted = names;
			std::sort(sorted.begin(), sorted.end());
			EXPECT_EQ(sorted, wtsNames);
		}
	}
	std::sort(found.begin(), found.end());
	EXPECT_EQ(found, dlls) << headers;
}

// The manifest as windres writes it back: quoted lines, "" for a quote.
std::string ManifestOf(const std::string &script)
{
	std::string text;
	size_t at = script.find("1 24 /* RT_MANIFEST */\nBEGIN\n");
	if (at == std::string::npos)
		return "";
	for (const std::string &line : Lines(script.substr(at))) {
		if (line == "END")
			break;
		size_t open = line.find('"'), close = line.rfind('"');
		if (open == std::string::npos || close <= open)
			continue;
		std::string quoted = line.substr(open + 1, close - open - 1);
		for (size_t i = 0; i < quoted.size(); i++) {
			if (quoted.compare(i, 2, "\"\"") == 0)
				text += quoted[i++];
			else if (quoted.compare(i, 2, "\\n") == 0)
				text += '\n', i++;
			else
				text += quoted[i];
		}
	}
	return text;
}

void ExpectResources(const Program &p, const std::string &script, const std::string &manifest)
{
	const std::string version = PROJECT_VERSION_TEXT;
	std::string copyright;
	for (const std::string &line : Lines(ReadFile(LICENSE_FILE)))
		if (copyright.empty() && line.rfind("Copyright ", 0) == 0)
			copyright = line;
	ASSERT_FALSE(copyright.empty()) << LICENSE_FILE;
	unsigned major = 0, minor = 0, patch = 0;
	ASSERT_EQ(sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch), 3) << version;
	std::string numbers = std::to_string(major) + ", " + std::to_string(minor) + ", " +
	                      std::to_string(patch) + ", 0\n";
	EXPECT_NE(script.find("1 VERSIONINFO\n FILEVERSION " + numbers + " PRODUCTVERSION " + numbers),
	          std::string::npos) << script;
	for (const auto &[key, value] :
	     std::vector<std::pair<std::string, std::string>>{{"ProductName", "ownerroll"},
	                                                      {"ProductVersion", version},
	                                                      {"FileVersion", version},
	                                                      {"LegalCopyright", copyright},
	                                                      {"InternalName", p.name},
	                                                      {"OriginalFilename", p.name + std::string(".exe")}})
		EXPECT_NE(script.find("VALUE \"" + key + "\", \"" + value + "\"\n"), std::string::npos)
			<< "lacks " << key << " " << value;
	size_t manifests = 0;
	for (size_t at = script.find(" 24 /* RT_MANIFEST */"); at != std::string::npos;
	     at = script.find(" 24 /* RT_MANIFEST */", at + 1))
		manifests++;
	EXPECT_EQ(manifests, 1u);
	EXPECT_EQ(ManifestOf(script), manifest);
}

// Size, machine, console subsystem, security flags, imports, version and
// manifest of each program, as the toolchain's own tools read them.
TEST(WinBinaries, EachProgramAsBuilt)
{
	if (!NotBuilt().empty())
		GTEST_SKIP() << NotBuilt();
	if (!IsProgram(setup.objdump) || !IsProgram(Tool("windres")))
		GTEST_SKIP() << "x86_64-w64-mingw32-objdump or -windres not found (binutils-mingw-w64-x86-64)";
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
		// Shipped stripped: the symbols would be most of the file.
		EXPECT_LE(ReadFile(Exe(p)).size(), 40u * 1024);
		std::string headers = RunProgram({setup.objdump, "-p", Exe(p)}).out;
		EXPECT_NE(headers.find(p.bits == 64 ? "file format pei-x86-64\n" : "file format pei-i386\n"),
		          std::string::npos) << headers;
		EXPECT_NE(headers.find(p.bits == 64 ? "Magic\t\t\t020b\t(PE32+)\n" : "Magic\t\t\t010b\t(PE32)\n"),
		          std::string::npos);
		EXPECT_NE(headers.find("(Windows CUI)"), std::string::npos) << "not the console subsystem";
		EXPECT_NE(headers.find("\texecutable\n"), std::string::npos);
		EXPECT_EQ(headers.find("\tDLL\n"), std::string::npos) << "a DLL";
		// ASLR (high entropy where the address space allows), DEP, and
		// terminal-server aware, as the platform's linker marks a console
		// program: without the mark a terminal server runs it with the
		// per-user mapping of INI files and registry keys kept for older
		// programs.
		unsigned flags = 0;
		size_t at = headers.find("DllCharacteristics\t");
		ASSERT_NE(at, std::string::npos);
		ASSERT_EQ(sscanf(headers.c_str() + at, "DllCharacteristics\t%x", &flags), 1);
		unsigned security = 0x0040 | 0x0100 | 0x8000 | (p.bits == 64 ? 0x0020 : 0);
		EXPECT_EQ(flags & 0x8160, security) << std::hex << flags;
		ExpectImports(p, headers);
		ExpectResources(p, RunProgram({Tool("windres"), "-i", Exe(p), "-O", "rc"}).out, manifest);
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
