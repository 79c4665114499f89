#include "wine.h"
#include "text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

WineSetup setup;

std::string Built(int bits, const std::string &path)
{
	return (bits == 64 ? setup.win64 : setup.win32) + "/" + path;
}

bool IsProgram(const std::string &path)
{
	return IsFile(path) && access(path.c_str(), X_OK) == 0;
}

static std::string Loader(int bits)
{
	return bits == 64 ? setup.wine64 : setup.wine64.substr(0, setup.wine64.rfind('/') + 1) + "wine";
}

std::string WineMissing()
{
	if (!IsProgram(setup.wine64))
		return "the 64-bit Wine is not installed (Debian: apt-get install wine wine64)";
	if (!IsFile(setup.prefix + "/system.reg"))
		return "the Wine prefix " + setup.prefix +
		       " is not prepared (the wine_prefix_setup test does it)";
	return "";
}

// Why the x86 runs cannot be made here, or "": the kernel runs no 32-bit
// program, or the archive cannot give the 32-bit Wine now (apt's reason).
static std::string X86Impossible()
{
	RunResult r = RunProgram({"/bin/sh", setup.runsI386});
	if (r.status == 1) // 2: it cannot tell, and the runs are tried
		return r.out.substr(0, r.out.find('\n'));
	if (IsProgram(Loader(32)))
		return "";
	r = Shell("dpkg --print-foreign-architectures | grep -qx i386 && "
	          "apt-get install -s -q --no-install-recommends wine32:i386 2>&1");
	size_t e = r.out.rfind("\nE: ");
	return r.status != 0 && e != std::string::npos
	               ? "the archive cannot give wine32:i386 now (" +
	                         r.out.substr(e + 4, r.out.find('\n', e + 1) - e - 4) + ")"
	               : "";
}

bool X86Runs()
{
	static int runs = -1;
	if (runs < 0) {
		std::string why = X86Impossible();
		runs = why.empty();
		if (!runs)
			std::printf("note: the x86 runs under Wine are left out: %s\n", why.c_str());
	}
	if (runs && !IsProgram(Loader(32)))
		ADD_FAILURE() << "the 32-bit Wine is not installed, though the kernel runs 32-bit "
		                 "programs (scripts/setup installs it: wine32:i386)";
	return runs && IsProgram(Loader(32));
}

std::vector<int> Architectures()
{
	return X86Runs() ? std::vector<int>{64, 32} : std::vector<int>{64};
}

std::vector<std::string> WineCommand(const std::string &exe, int bits, bool standIn,
                                     const std::vector<std::string> &settings)
{
	std::vector<std::string> argv = {
		"/usr/bin/env", "WINEPREFIX=" + setup.prefix, "WINEDEBUG=-all",
		std::string("WINEDLLOVERRIDES=mscoree,mshtml=;wtsapi32=") + (standIn ? "n" : "b"),
		"DISPLAY=", "WAYLAND_DISPLAY=", "LANG=C.UTF-8", "LC_ALL=C.UTF-8"};
	// As Debian's wine script has it where the 64-bit loader runs alone.
	if (bits == 64)
		argv.push_back("WINELOADER=" + Loader(64));
	argv.insert(argv.end(), settings.begin(), settings.end());
	argv.push_back(Loader(bits));
	argv.push_back(exe);
	return argv;
}

std::vector<std::string> OnTerminal(const std::vector<std::string> &argv,
                                    const std::string &redirections)
{
	std::string command;
	for (const std::string &word : argv)
		command += Quote(word) + " ";
	command += redirections;
	return {"/usr/bin/env", "TERM=dumb", setup.script, "-qfec", command, "/dev/null"};
}

// Wine, not the program, failed to start (seen once under heavy load).
static bool WineDidNotStart(const RunResult &r)
{
	return r.err.find("could not load ntdll.so") != std::string::npos ||
	       r.err.compare(0, 6, "wine: ") == 0;
}

RunResult RunWine(const std::vector<std::string> &argv, const std::string &input, bool hold,
                  bool outputGone)
{
	const RunOptions options = {.input = input, .holdInput = hold, .timeoutSeconds = 60, .outputGone = outputGone};
	RunResult r = RunProgram(argv, options);
	if (!WineDidNotStart(r))
		return r;
	std::printf("note: Wine did not start, retried once: %s\n", r.err.c_str());
	r = RunProgram(argv, options);
	if (WineDidNotStart(r))
		ADD_FAILURE() << "Wine itself did not start, twice (not a fault of the program): "
		              << r.err;
	return r;
}

static std::string Option(const std::string &arg, const std::string &name)
{
	std::string prefix = "--" + name + "=";
	return arg.compare(0, prefix.size(), prefix) == 0 ? arg.substr(prefix.size()) : "";
}

// When nothing ran but skips, the exit status is 77.
int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	for (int i = 1; i < argc; i++)
		for (auto [name, value] : std::vector<std::pair<const char *, std::string *>>{
		         {"win64", &setup.win64}, {"win32", &setup.win32},
		         {"manifest", &setup.manifest}, {"wine64", &setup.wine64},
		         {"runs-i386", &setup.runsI386},
		         {"prefix", &setup.prefix}, {"objdump", &setup.objdump},
		         {"script", &setup.script}, {"work", &setup.work}})
			if (!Option(argv[i], name).empty())
				*value = Option(argv[i], name);
	int status = RUN_ALL_TESTS();
	const testing::UnitTest &unit = *testing::UnitTest::GetInstance();
	if (status == 0 && unit.successful_test_count() == 0 && unit.skipped_test_count() > 0)
		return 77;
	return status;
}
