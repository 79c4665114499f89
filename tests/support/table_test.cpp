// The table parser the program tests rely on: it takes a well-formed table
// apart and names the first fault of each kind.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "table.h"

static const std::string rowsText =
	"1\t1\t12\t1\tinit\tS-1-5-18\tNT AUTHORITY\\SYSTEM\n"
	"2\t40\t0\t3\torphan\t-\t\n";

static std::string Problem(const std::string &out)
{
	std::vector<TableRow> rows = {TableRow()};
	std::string problem = ParseTable(out, &rows);
	EXPECT_TRUE(rows.empty()) << out;
	return problem.empty() ? "parsed" : problem;
}

TEST(TableParser, GivesEveryColumnOfEveryRow)
{
	std::vector<TableRow> rows;
	ASSERT_EQ(ParseTable(TableText("2", rowsText), &rows), "");
	std::string columns;
	for (const TableRow &r : rows)
		columns += r.number + "|" + r.pid + "|" + r.handles + "|" + r.threads + "|" + r.name + "|" +
		           r.sid + "|" + r.account + "\n";
	EXPECT_EQ(columns, "1|1|12|1|init|S-1-5-18|NT AUTHORITY\\SYSTEM\n2|40|0|3|orphan|-|\n");

	ASSERT_EQ(ParseTable(TableText("0", ""), &rows), "");
	EXPECT_TRUE(rows.empty());
}

TEST(TableParser, NamesTheFirstFault)
{
	const std::string good = TableText("2", rowsText);
	EXPECT_EQ(Problem(""), "no count line");
	EXPECT_EQ(Problem("Error: x\n " + good), "no count line");
	EXPECT_EQ(Problem(TableText("", rowsText)), "count line malformed");
	EXPECT_EQ(Problem(TableText("2x", rowsText)), "count line malformed");
	EXPECT_EQ(Problem("Processes Found: 2\n" + std::string(tableHeader) + rowsText + tableClosing),
	          "count line malformed");
	EXPECT_EQ(Problem("Processes Found: 2\n\n" + rowsText + tableClosing), "header line missing");
	EXPECT_EQ(Problem("Processes Found: 0\n\n#\tPID\tHandles\tThreads\n\n" + std::string(tableClosing)),
	          "header line missing");
	EXPECT_EQ(Problem(good.substr(0, good.size() - 1)), "closing line missing");
	EXPECT_EQ(Problem(good + "\n"), "closing line missing");
	EXPECT_EQ(Problem("Processes Found: 0\n\n" + std::string(tableHeader) + "\n"),
	          "closing line missing");
	EXPECT_EQ(Problem(TableText("1", "1\t1\t12\t1\tinit\tS-1-5-18\tx")), "last row without its line feed");
	EXPECT_EQ(Problem(TableText("3", rowsText)), "count 3 but 2 rows");
	EXPECT_EQ(Problem(TableText("02", rowsText)), "count 02 but 2 rows");
	EXPECT_EQ(Problem(TableText("1", "\n")), "not seven columns: ");
	EXPECT_EQ(Problem(TableText("1", "1\t1\t12\t1\tinit\tS-1-5-18\n")),
	          "not seven columns: 1\t1\t12\t1\tinit\tS-1-5-18");
	EXPECT_EQ(Problem(TableText("1", "1\t1\t12\t1\tinit\tS-1-5-18\tx\ty\n")),
	          "not seven columns: 1\t1\t12\t1\tinit\tS-1-5-18\tx\ty");
	EXPECT_EQ(Problem(TableText("2", "1\t1\t12\t1\tinit\t\t\n3\t40\t0\t3\torphan\t-\t\n")),
	          "row number 3 where 2 was due");
	EXPECT_EQ(Problem(TableText("1", "0\t1\t12\t1\tinit\t\t\n")), "row number 0 where 1 was due");
	EXPECT_EQ(Problem(TableText("1", "1\t-1\t12\t1\tinit\t\t\n")), "malformed row: 1\t-1\t12\t1\tinit\t\t");
	EXPECT_EQ(Problem(TableText("1", "1\t1\t\t1\tinit\t\t\n")), "malformed row: 1\t1\t\t1\tinit\t\t");
	EXPECT_EQ(Problem(TableText("1", "1\t1\t12\t1 \tinit\t\t\n")), "malformed row: 1\t1\t12\t1 \tinit\t\t");
	EXPECT_EQ(Problem(TableText("1", "1\t1\t12\t1\t\t\t\n")), "malformed row: 1\t1\t12\t1\t\t\t");
	EXPECT_EQ(Problem(TableText("2", "1\t7\t1\t1\ta\t\t\n2\t7\t1\t1\tb\t\t\n")), "pid 7 twice");
}
