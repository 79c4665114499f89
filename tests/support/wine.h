// The Windows programs as cross-built, run under Wine in the tests' own
// prefix, with no display and UTF-8 as the locale's encoding.
#ifndef TEST_WINE_H
#define TEST_WINE_H

#include <string>
#include <vector>

#include "run.h"

// From the options --win64=DIR --win32=DIR (the cross-build folders),
// --manifest=FILE, --wine64=PROGRAM (the 64-bit loader; the 32-bit one,
// wine, is beside it), --runs-i386=SCRIPT (asks the kernel), --prefix=DIR,
// --objdump=PROGRAM, --script=PROGRAM, --work=DIR.
struct WineSetup {
	std::string win64, win32, manifest, wine64, runsI386, prefix, objdump, script, work;
};
extern WineSetup setup;

// The file at path in the cross build for x86-64 (bits 64) or x86.
std::string Built(int bits, const std::string &path);

bool IsProgram(const std::string &path);

// Why Wine cannot run here, or "".
std::string WineMissing();

// Whether the x86 programs are run here: not where the kernel runs no
// 32-bit program, which is noted once. Where it runs them, a missing
// 32-bit Wine is a failure of the calling test.
bool X86Runs();

// The architectures whose programs are run here: 64, and 32 where X86Runs.
std::vector<int> Architectures();

// The command that runs exe, built for bits, under Wine's loader for it;
// with standIn the stand-in wtsapi32.dll beside exe is loaded instead of
// Wine's. settings come last in the environment and so win.
std::vector<std::string> WineCommand(const std::string &exe, int bits, bool standIn,
                                     const std::vector<std::string> &settings = {});

// argv on a pseudo-terminal of its own (script), as on a console, with
// the shell's redirections given, if any.
std::vector<std::string> OnTerminal(const std::vector<std::string> &argv,
                                    const std::string &redirections = "");

// RunProgram for at most 60 seconds; a start-up failure of Wine itself is
// retried once and reported as what it is.
RunResult RunWine(const std::vector<std::string> &argv, const std::string &input, bool hold,
                  bool outputGone = false);

#endif
