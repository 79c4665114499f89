// A process for the Wine tests to list: it prints its process id, then
// stays until its standard input ends. The tests run copies of it under
// names a table must carry whole.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

int main()
{
	char text[32];
	char byte;
	DWORD n;
	int length = snprintf(text, sizeof text, "%lu\n", (unsigned long)GetCurrentProcessId());

	WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)length, &n, NULL);
	while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &n, NULL) && n > 0)
		continue;
	return 0;
}
