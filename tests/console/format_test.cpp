// The bounded formatter: capacity checks, cuts, and the conversions
// against the C library's own formatting.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "format.h"

static const WCHAR sentinel = 0xA5A5;

TEST(FormatBounded, CapacityZeroIsRefusedAndLeavesDestUntouched)
{
	WCHAR dest[8];
	std::fill_n(dest, 8, sentinel);
	EXPECT_EQ(FormatBounded(dest, 0, WIDE("abc")), E_INVALIDARG);
	for (WCHAR c : dest)
		EXPECT_EQ(c, sentinel);
}

// Each text as far as it fits, always terminated, and nothing written past
// the terminator; a cut gives the first capacity - 1 units, even when that
// parts a surrogate pair. A capacity above the limit leaves dest empty.
TEST(FormatBounded, FitsOrCutsAtExactlyTheCapacity)
{
	const struct {
		size_t capacity;
		const WCHAR *format;
		const WCHAR *text; // the argument, or NULL for number
		int number;
		HRESULT status;
		std::u16string out;
	} cases[] = {
		{1, WIDE("x"), NULL, 0, STRSAFE_E_INSUFFICIENT_BUFFER, u""},
		{1, WIDE("%d"), NULL, 7, STRSAFE_E_INSUFFICIENT_BUFFER, u""},
		{1, WIDE(""), NULL, 0, S_OK, u""},
		{6, WIDE("abcde"), NULL, 0, S_OK, u"abcde"},
		{6, WIDE("abcdef"), NULL, 0, STRSAFE_E_INSUFFICIENT_BUFFER, u"abcde"},
		{6, WIDE("ab"), NULL, 0, S_OK, u"ab"},
		{3, WIDE("%d"), NULL, -12345, STRSAFE_E_INSUFFICIENT_BUFFER, u"-1"},
		{4, WIDE("%d"), NULL, 123, S_OK, u"123"},
		{5, WIDE("<%s>"), WIDE("wide text"), 0, STRSAFE_E_INSUFFICIENT_BUFFER, u"<wid"},
		{2, WIDE("%s"), WIDE("\U0001F600"), 0, STRSAFE_E_INSUFFICIENT_BUFFER, u"\xD83D"},
		{0x7FFFFFFF, WIDE("abc"), NULL, 0, S_OK, u"abc"},
		{0x80000000u, WIDE("abc"), NULL, 0, E_INVALIDARG, u""},
		{(size_t)-1, WIDE("abc"), NULL, 0, E_INVALIDARG, u""},
	};
	for (const auto &c : cases) {
		WCHAR dest[10];
		std::fill_n(dest, 10, sentinel);
		HRESULT status = c.text != NULL ? FormatBounded(dest, c.capacity, c.format, c.text)
		                                : FormatBounded(dest, c.capacity, c.format, c.number);
		EXPECT_EQ(status, c.status) << c.capacity;
		EXPECT_EQ(std::u16string(dest), c.out) << c.capacity;
		for (size_t i = c.out.size() + 1; i < 10; i++)
			EXPECT_EQ(dest[i], sentinel) << c.capacity << " " << i;
	}
}

TEST(FormatBounded, CapacityNeverOverrunByLongText)
{
	std::u16string text(5000, u'x');
	for (size_t capacity = 1; capacity < 70; capacity++) {
		WCHAR dest[80];
		std::fill_n(dest, 80, sentinel);
		EXPECT_EQ(FormatBounded(dest, capacity, WIDE("%s%d%s"), text.c_str(), INT_MIN,
		                        text.c_str()),
		          STRSAFE_E_INSUFFICIENT_BUFFER);
		EXPECT_EQ(std::u16string(dest), std::u16string(capacity - 1, u'x'));
		for (size_t i = capacity; i < 80; i++)
			ASSERT_EQ(dest[i], sentinel) << capacity << " " << i;
	}
}

TEST(FormatBounded, DecimalAgreesWithTheCLibrary)
{
	// Error codes are DWORDs printed as signed: 0xC0000005 as -1073741819.
	std::vector<int> values = {0, 1, -1, 9, -9, 10, -10, INT_MAX, INT_MIN, INT_MAX - 1,
	                           INT_MIN + 1, (int)0xC0000005u};
	for (long long p = 10; p <= 1000000000; p *= 10)
		values.insert(values.end(), {(int)p, (int)(p - 1), (int)-p, (int)(1 - p)});
	unsigned state = 12345;
	for (int i = 0; i < 2000; i++) {
		state = state * 1103515245u + 12345u;
		values.push_back((int)state);
	}
	for (int value : values) {
		char expected[32];
		WCHAR dest[32];
		int n = snprintf(expected, sizeof expected, "%d", value);
		EXPECT_EQ(FormatBounded(dest, 32, WIDE("%d"), value), S_OK);
		EXPECT_EQ(std::u16string(dest), std::u16string(expected, expected + n)) << value;
	}
}

TEST(FormatBounded, TextPercentAndOtherSequences)
{
	WCHAR dest[64];
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("[%s]"), (const WCHAR *)NULL), S_OK);
	EXPECT_EQ(std::u16string(dest), u"[(null)]");
	EXPECT_EQ(FormatBounded(dest, 64, (const WCHAR *)NULL), S_OK);
	EXPECT_EQ(std::u16string(dest), u"");
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("100%% %x %5d %")), S_OK);
	EXPECT_EQ(std::u16string(dest), u"100% %x %5d %");
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("%s|%s"), WIDE(""), WIDE("\u00e9\U0001F600\u4e2d")),
	          S_OK);
	EXPECT_EQ(std::u16string(dest), u"|\u00e9\U0001F600\u4e2d");
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("%s failed with error %d: %s"),
	                        WIDE("WTSFreeMemoryEx"), 87, WIDE("text\n")),
	          S_OK);
	EXPECT_EQ(std::u16string(dest), u"WTSFreeMemoryEx failed with error 87: text\n");
	// A number takes the plain text after it along, as far as it fits.
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("%d units after it, then %d"), -12, INT_MIN), S_OK);
	EXPECT_EQ(std::u16string(dest), u"-12 units after it, then -2147483648");
}
