// A small program that writes through the console support as the
// programs do, so that tests can check the exact bytes that come out.
//   console_probe text      fixed ASCII and non-ASCII text (the conversions
//                           are the formatter's tests' to check)
//   console_probe unpaired  lone surrogates
//   console_probe edges     surrogate pairs across the output buffer's end
//   console_probe names     names for a cell, from read-only memory
//   console_probe report CODE [fatal]  SetLastError(CODE), ReportLastError
//   console_probe reopen    prints, opens /dev/null for writing, prints: with
//                           descriptor 1 closed, that file would take it
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "console.h"
#include "report.h"

const ConsoleProgram consoleProgram = {WIDE("console_probe"), WIDE("Error: %s ")};

static void Text(void)
{
	ConsolePrintf(WIDE("Processes Found: %d\n\n"), 3);
	ConsolePrintf(WIDE("%s|%s\n"), WIDE("gr\u00fc\u00df \u20ac \u4e2d"), WIDE("\U0001F600\U00010348"));
}

static void Unpaired(void)
{
	static const WCHAR lowAlone[] = {'a', 0xDC00, 'b', '\n', 0};
	static const WCHAR highAlone[] = {'a', 0xD800, 'b', '\n', 0};
	static const WCHAR highLast[] = {'a', 0xD83D, 0};
	static const WCHAR lowFirst[] = {0xDE00, 'c', '\n', 0};
	static const WCHAR twoHighs[] = {0xD800, 0xD83D, 0xDE00, '\n', 0};

	ConsolePrintf(WIDE("%s"), lowAlone);
	ConsolePrintf(WIDE("%s"), highAlone);
	// A pair split between two calls is two lone halves.
	ConsolePrintf(WIDE("%s"), highLast);
	ConsolePrintf(WIDE("%s"), lowFirst);
	ConsolePrintf(twoHighs);
}

// Controls, separators and bidirectional controls become '?', and their
// neighbours stay; a surrogate pairs only within its name, and a lone one
// becomes U+FFFD. Each name is const, so a write to it would crash.
static void Names(void)
{
	static const WCHAR *const names[] = {
		WIDE("a\tb\nc\rd\x1b[31m|del\x7fx\x1f\x20"),
		WIDE("c1\u0080\u0085\u009f\u00a0"),
		WIDE("\u061C\u200E\u200F\u2028\u2029\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069|"
		     "\u061B\u200D\u2027\u202F\u2065\u206A"),
		WIDE("\U0001F600\xD83D|\xDE00\xDE00\xD83D"),
	};
	static const WCHAR low[] = {0xDE00, 0};

	for (const WCHAR *name : names)
		ConsolePrintNames(WIDE("%s\t"), name);
	ConsolePrintNames(WIDE("%s%s\n"), WIDE("\xD83D"), low);
}

// Lines of k letters and 20,000 pairs, each 80 KB of UTF-8 or more: the
// buffer's end falls inside a pair at every offset k.
static void Edges(void)
{
	static WCHAR line[4 + 2 * 20000 + 2];

	for (int k = 0; k < 5; k++) {
		int n = k;
		for (int i = 0; i < k; i++)
			line[i] = (WCHAR)('a' + i);
		for (int i = 0; i < 20000; i++) {
			line[n++] = 0xD83D;
			line[n++] = 0xDE00;
		}
		line[n++] = '\n';
		line[n] = 0;
		ConsolePrintf(WIDE("%s"), line);
	}
}

int main(int argc, char **argv)
{
	if (argc >= 2 && strcmp(argv[1], "text") == 0) {
		Text();
	} else if (argc >= 2 && strcmp(argv[1], "unpaired") == 0) {
		Unpaired();
	} else if (argc >= 2 && strcmp(argv[1], "edges") == 0) {
		Edges();
	} else if (argc >= 2 && strcmp(argv[1], "names") == 0) {
		Names();
	} else if (argc >= 2 && strcmp(argv[1], "reopen") == 0) {
		ConsolePrintf(WIDE("table\n"));
		if (open("/dev/null", O_WRONLY) < 0)
			return 1;
		ConsolePrintf(WIDE("more\n"));
	} else if (argc >= 3 && strcmp(argv[1], "report") == 0) {
		ConsolePrintf(WIDE("before\n"));
		SetLastError((DWORD)strtoul(argv[2], NULL, 0));
		ReportLastError(WIDE("WTSEnumerateProcessesEx"), argc >= 4);
		ConsolePrintf(WIDE("after\n"));
	} else {
		return 64;
	}
	return 0;
}
