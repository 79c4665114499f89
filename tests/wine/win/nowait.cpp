// Runs the command line it is given with standard input a pipe in
// non-blocking mode (PIPE_NOWAIT), as another program may leave one; one
// byte is written to it after a second. Prints "waited" when the program
// was still running then, and the program's exit status.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

int main()
{
	SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
	STARTUPINFOA start = {};
	PROCESS_INFORMATION child;
	DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
	HANDLE reader, writer;
	DWORD n, status = 255;
	char *command = GetCommandLineA();

	// The first word is this program's own.
	command += command[0] == '"' ? strcspn(command + 1, "\"") + 2 : strcspn(command, " ");
	command += strspn(command, " ");
	if (!CreatePipe(&reader, &writer, &inherit, 0) || !SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0) ||
	    !SetNamedPipeHandleState(reader, &mode, NULL, NULL))
		return 254;
	start.cb = sizeof start;
	start.dwFlags = STARTF_USESTDHANDLES;
	start.hStdInput = reader;
	start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
	start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
	if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &child))
		return 253;
	if (WaitForSingleObject(child.hProcess, 1000) == WAIT_TIMEOUT)
		printf("waited\n");
	WriteFile(writer, "x", 1, &n, NULL);
	WaitForSingleObject(child.hProcess, 30000);
	GetExitCodeProcess(child.hProcess, &status);
	printf("%lu\n", (unsigned long)status);
	return 0;
}
