// The Windows programs as cross-built, run under Wine in the tests' own
// prefix, with no display and UTF-8 as the locale's encoding.
#ifndef TEST_WINE_H
#define TEST_WINE_H

#include <string>
#include <vector>

#include "run.h"

// From the options --win64=DIR --win32=DIR (the cross-build folders),
// --manifest=FILE, --wine=PROGRAM, --prefix=DIR, --objdump=PROGRAM,
// --script=PROGRAM, --work=DIR.
struct WineSetup {
	std::string win64, win32, manifest, wine, prefix, objdump, script, work;
};
extern WineSetup setup;

// The file at path in the cross build for x86-64 (bits 64) or x86.
std::string Built(int bits, const std::string &path);

bool IsProgram(const std::string &path);

// Why Wine cannot run here, or "".
std::string WineMissing();

// The command that runs exe under Wine; with standIn the stand-in
// wtsapi32.dll beside exe is loaded instead of Wine's. settings come last
// in the environment and so win.
std::vector<std::string> WineCommand(const std::string &exe, bool standIn,
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
