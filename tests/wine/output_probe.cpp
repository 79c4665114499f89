// A Windows program that drives the console output with text the real
// programs cannot be made to print under Wine: characters outside ASCII,
// unpaired surrogates and a pair that straddles the gathering buffer.
// The first line says where standard output went.
#include "console.h"

const ConsoleProgram consoleProgram = {WIDE("output_probe"), WIDE("Error: %s\n")};

int main()
{
	static WCHAR longText[4100];
	DWORD mode;
	WCHAR lone[] = {'<', 0xD800, '>', '<', 0xDC00, '>', 0};
	WCHAR lateHigh[] = {'[', 0xD83D, 0};
	int i;

	ConsolePrintf(WIDE("%s\n"), GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)
	                                 ? WIDE("console") : WIDE("stream"));
	ConsolePrintf(WIDE("%s|%d|%s\n"), WIDE("gr\u00FC\u00DF \u20AC \U0001F600"), -7,
	              WIDE("\u65E5\u672C"));
	ConsolePrintf(WIDE("%s\n"), lone);
	// A high surrogate ending one formatted text is not paired with the
	// next text's first unit.
	ConsolePrintf(WIDE("%s"), lateHigh);
	ConsolePrintf(WIDE("%s\n"), WIDE("\xDE00]"));
	// From an empty buffer, 2047 units, then a pair: the pair falls across
	// the end of the 2048 gathered units and of a formatter's chunk, and
	// must come out whole.
	ConsoleFlush();
	for (i = 0; i < 4099; i++)
		longText[i] = 'a';
	longText[2047] = 0xD83D;
	longText[2048] = 0xDE00;
	longText[4099] = 0;
	ConsolePrintf(WIDE("%s\n"), longText);
	return 0;
}
