#include "table.h"
#include "text.h"

#include <set>

const char tableHeader[] = "#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\n\n";
const char tableClosing[] = "\n\nDone! Please any key to exit()\n";

std::string TableText(const std::string &count, const std::string &rows)
{
	return "Processes Found: " + count + "\n\n" + tableHeader + rows + tableClosing;
}

static bool IsNumber(const std::string &text)
{
	return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string ParseTable(const std::string &out, std::vector<TableRow> *rows)
{
	const std::string lead = "Processes Found: ";
	const std::string header = tableHeader;
	const std::string closing = tableClosing;

	rows->clear();
	if (out.compare(0, lead.size(), lead) != 0)
		return "no count line";
	size_t countEnd = out.find("\n\n", lead.size());
	if (countEnd == std::string::npos || !IsNumber(out.substr(lead.size(), countEnd - lead.size())))
		return "count line malformed";
	const std::string count = out.substr(lead.size(), countEnd - lead.size());
	if (out.compare(countEnd + 2, header.size(), header) != 0)
		return "header line missing";
	size_t bodyStart = countEnd + 2 + header.size();
	if (out.size() < bodyStart + closing.size() ||
	    out.compare(out.size() - closing.size(), closing.size(), closing) != 0)
		return "closing line missing";
	const std::string body = out.substr(bodyStart, out.size() - closing.size() - bodyStart);
	if (!body.empty() && body.back() != '\n')
		return "last row without its line feed";
	const std::vector<std::string> lines = Lines(body);
	if (std::to_string(lines.size()) != count)
		return "count " + count + " but " + std::to_string(lines.size()) + " rows";
	std::vector<TableRow> parsed;
	std::set<std::string> pids;
	for (size_t i = 0; i < lines.size(); i++) {
		std::vector<std::string> columns = Split(lines[i], '\t');
		if (columns.size() != 7)
			return "not seven columns: " + lines[i];
		if (columns[0] != std::to_string(i + 1))
			return "row number " + columns[0] + " where " + std::to_string(i + 1) + " was due";
		if (!IsNumber(columns[1]) || !IsNumber(columns[2]) || !IsNumber(columns[3]) ||
		    columns[4].empty())
			return "malformed row: " + lines[i];
		if (!pids.insert(columns[1]).second)
			return "pid " + columns[1] + " twice";
		parsed.push_back({columns[0], columns[1], columns[2], columns[3], columns[4], columns[5],
		                  columns[6]});
	}
	*rows = parsed;
	return "";
}
