// A small program that writes through the console support as the
// programs do, so that tests can check the exact bytes that come out.
//   console_probe text      fixed ASCII and non-ASCII text (the conversions
//                           are the formatter's tests' to check)
//   console_probe unpaired  lone surrogates
//   console_probe chunks    surrogate pairs on and around chunk edges
//   console_probe report CODE [fatal]  SetLastError(CODE), ReportLastError
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "output.h"

const WCHAR ErrorLineFormat[] = WIDE("Error: %s ");
const WCHAR ProgramName[] = WIDE("console_probe");

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

// Lines of k letters and a pair, once through "%s" and once in the format
// itself, for k on both sides of one and two chunk lengths.
static void Chunks(void)
{
	static WCHAR line[3 * CONSOLE_CHUNK];
	static const int offsets[] = {
		CONSOLE_CHUNK - 3, CONSOLE_CHUNK - 2, CONSOLE_CHUNK - 1, CONSOLE_CHUNK,
		CONSOLE_CHUNK + 1, 2 * CONSOLE_CHUNK - 1, 2 * CONSOLE_CHUNK,
	};

	for (int k : offsets) {
		for (int i = 0; i < k; i++)
			line[i] = (WCHAR)('a' + i % 26);
		line[k] = 0xD83D;
		line[k + 1] = 0xDE00;
		line[k + 2] = '\n';
		line[k + 3] = 0;
		ConsolePrintf(WIDE("%s"), line);
		ConsolePrintf(line);
	}
}

int main(int argc, char **argv)
{
	if (argc >= 2 && strcmp(argv[1], "text") == 0) {
		Text();
	} else if (argc >= 2 && strcmp(argv[1], "unpaired") == 0) {
		Unpaired();
	} else if (argc >= 2 && strcmp(argv[1], "chunks") == 0) {
		Chunks();
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
