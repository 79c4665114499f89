// ownerroll's table as printed on standard output: its whole form checked,
// its rows given back.
#ifndef TEST_TABLE_H
#define TEST_TABLE_H

#include <string>
#include <vector>

// The header line and the closing line, each with the line feeds that
// belong to it.
extern const char tableHeader[];
extern const char tableClosing[];

// The whole output for count and the text between header and closing.
std::string TableText(const std::string &count, const std::string &rows);

struct TableRow {
	std::string number, pid, handles, threads, name, sid, account;
};

// Reads out as the whole of ownerroll's output: "Processes Found: N" and an
// empty line, the header and an empty line, N rows numbered 1..N of seven
// tab-separated columns each ending in a line feed (PID, Handles and
// Threads in digits, a process name, each PID once), then the closing line.
// Returns "" when it is, else the first problem found, with *rows left
// empty.
std::string ParseTable(const std::string &out, std::vector<TableRow> *rows);

#endif
