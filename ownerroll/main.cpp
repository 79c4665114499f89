// ownerroll: every process of this machine, in all sessions, with its
// owner's SID and account, as a tab-separated table.
#include "console.h"
#include "report.h"

const ConsoleProgram consoleProgram = {WIDE("ownerroll"), WIDE("Error: %s ")};

int main()
{
	DWORD level = 1;
	WTS_PROCESS_INFO_EXW *processListing = NULL;
	DWORD processCount = 0;
	WTS_PROCESS_INFO_EXW *listingStart;
	DWORD row;
	LPWSTR stringSID;
	WCHAR accountName[1024];
	DWORD bufferLen;
	WCHAR domainName[1024];
	DWORD domainNameBufferLen;
	SID_NAME_USE peUse;

	// A failed enumeration leaves the list null and the count 0: the
	// report goes on with no rows.
	if (!WTSEnumerateProcessesExW(WTS_CURRENT_SERVER_HANDLE, &level, WTS_ANY_SESSION,
	                              (LPWSTR *)&processListing, &processCount))
		ReportLastError(WIDE("WTSEnumerateProcessesEx"), false);

	ConsolePrintf(WIDE("Processes Found: %d\n\n"), processCount);

	stringSID = NULL;
	listingStart = processListing;

	ConsolePrintf(WIDE("#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\n\n"));

	for (row = 1; row <= processCount; row++) {
		ConsolePrintf(WIDE("%d\t"), row);
		ConsolePrintf(WIDE("%d\t"), processListing->ProcessId);
		ConsolePrintf(WIDE("%d\t"), processListing->HandleCount);
		ConsolePrintf(WIDE("%d\t"), processListing->NumberOfThreads);
		// The names are the platform's, in its list: cleaned on their way
		// out, never where they lie.
		ConsolePrintNames(WIDE("%s\t"), processListing->pProcessName);

		if (ConvertSidToStringSidW(processListing->pUserSid, &stringSID)) {
			ConsolePrintf(WIDE("%s\t"), stringSID);
			LocalFree(stringSID);
		} else {
			ConsolePrintf(WIDE("-\t"));
		}

		// The previous lookup overwrote both lengths.
		bufferLen = 1024;
		domainNameBufferLen = 1024;
		if (LookupAccountSidW(NULL, processListing->pUserSid, accountName, &bufferLen,
		                      domainName, &domainNameBufferLen, &peUse))
			ConsolePrintNames(WIDE("%s\\%s\n"), domainName, accountName);
		else
			ConsolePrintf(WIDE("\n"));

		processListing++;
	}

	if (!WTSFreeMemoryExW(WTSTypeProcessInfoLevel1, listingStart, processCount))
		ReportLastError(WIDE("WTSFreeMemoryEx"), false);
	processListing = NULL;

	ConsolePrintf(WIDE("\n\nDone! Please any key to exit()\n"));
	ConsoleWaitForKey();
	// 0, or the code of a failure reported above, as taskroll would end.
	ExitProcess(ReportedStatus());
}
