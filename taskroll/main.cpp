// taskroll: asks for the list of every process of this machine and tells
// only whether that could be served. The list is not read, and lives until
// the process ends.
#include "console.h"
#include "report.h"

const ConsoleProgram consoleProgram = {WIDE("taskroll"), WIDE("Error: %s\n")};

int main()
{
	DWORD level = 1;
	WTS_PROCESS_INFO_EXW *processListing = NULL;
	DWORD processCount;

	if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                              (LPWSTR *)&processListing, &processCount))
		ReportLastError(WIDE("WTSEnumerateProcessesEx"), true);

	ConsoleWaitForKey();
	return 0;
}
