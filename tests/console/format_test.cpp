// The bounded formatter: capacity checks, cuts, and the conversions
// against the C library's own formatting.
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console.h"

const WCHAR ErrorLineFormat[] = WIDE("Error: %s ");
const WCHAR ProgramName[] = WIDE("format_test");

static const WCHAR sentinel = 0xA5A5;

static std::u16string Text(const WCHAR *dest)
{
	return std::u16string(dest);
}

static void Fill(WCHAR *buffer, size_t count)
{
	for (size_t i = 0; i < count; i++)
		buffer[i] = sentinel;
}

static HRESULT Bounded(WCHAR *dest, size_t capacity, size_t *length, const WCHAR *format, ...)
{
	va_list args;
	va_start(args, format);
	HRESULT status = FormatBoundedV(dest, capacity, length, format, args);
	va_end(args);
	return status;
}

TEST(FormatBounded, CapacityZeroIsRefusedAndLeavesDestUntouched)
{
	WCHAR dest[8];
	Fill(dest, 8);
	EXPECT_EQ(FormatBounded(dest, 0, WIDE("abc")), E_INVALIDARG);
	for (WCHAR c : dest)
		EXPECT_EQ(c, sentinel);
}

TEST(FormatBounded, CapacityAboveLimitIsRefusedAndEmptiesDest)
{
	WCHAR dest[8];
	for (size_t capacity : {(size_t)0x80000000u, (size_t)-1}) {
		Fill(dest, 8);
		size_t length = 99;
		EXPECT_EQ(Bounded(dest, capacity, &length, WIDE("abc")), E_INVALIDARG);
		EXPECT_EQ(dest[0], 0);
		EXPECT_EQ(length, 0u);
		for (int i = 1; i < 8; i++)
			EXPECT_EQ(dest[i], sentinel) << i;
	}
}

TEST(FormatBounded, LargestCapacityIsAccepted)
{
	WCHAR dest[8];
	Fill(dest, 8);
	EXPECT_EQ(FormatBounded(dest, 0x7FFFFFFF, WIDE("abc")), S_OK);
	EXPECT_EQ(Text(dest), u"abc");
	EXPECT_EQ(dest[4], sentinel);
}

TEST(FormatBounded, CapacityOneHoldsOnlyTheTerminator)
{
	WCHAR dest[4];
	Fill(dest, 4);
	EXPECT_EQ(FormatBounded(dest, 1, WIDE("x")), STRSAFE_E_INSUFFICIENT_BUFFER);
	EXPECT_EQ(dest[0], 0);
	EXPECT_EQ(dest[1], sentinel);

	Fill(dest, 4);
	EXPECT_EQ(FormatBounded(dest, 1, WIDE("%d"), 7), STRSAFE_E_INSUFFICIENT_BUFFER);
	EXPECT_EQ(dest[0], 0);
	EXPECT_EQ(dest[1], sentinel);

	Fill(dest, 4);
	EXPECT_EQ(FormatBounded(dest, 1, WIDE("")), S_OK);
	EXPECT_EQ(dest[0], 0);
	EXPECT_EQ(dest[1], sentinel);
}

TEST(FormatBounded, CapacitySixAroundFiveAndSixCharacters)
{
	WCHAR dest[10];
	size_t length;

	Fill(dest, 10);
	EXPECT_EQ(Bounded(dest, 6, &length, WIDE("abcde")), S_OK);
	EXPECT_EQ(Text(dest), u"abcde");
	EXPECT_EQ(length, 5u);
	EXPECT_EQ(dest[6], sentinel);

	Fill(dest, 10);
	EXPECT_EQ(Bounded(dest, 6, &length, WIDE("abcdef")), STRSAFE_E_INSUFFICIENT_BUFFER);
	EXPECT_EQ(Text(dest), u"abcde");
	EXPECT_EQ(length, 5u);
	for (int i = 6; i < 10; i++)
		EXPECT_EQ(dest[i], sentinel) << i;

	Fill(dest, 10);
	EXPECT_EQ(Bounded(dest, 6, &length, WIDE("ab")), S_OK);
	EXPECT_EQ(Text(dest), u"ab");
	EXPECT_EQ(length, 2u);
	EXPECT_EQ(dest[3], sentinel);
}

TEST(FormatBounded, CutsInsideConversionsAtExactlyMaxUnits)
{
	WCHAR dest[16];
	size_t length;

	Fill(dest, 16);
	EXPECT_EQ(Bounded(dest, 3, &length, WIDE("%d"), -12345), STRSAFE_E_INSUFFICIENT_BUFFER);
	EXPECT_EQ(Text(dest), u"-1");
	EXPECT_EQ(dest[3], sentinel);

	Fill(dest, 16);
	EXPECT_EQ(Bounded(dest, 5, &length, WIDE("<%s>"), WIDE("wide text")),
	          STRSAFE_E_INSUFFICIENT_BUFFER);
	EXPECT_EQ(Text(dest), u"<wid");
	EXPECT_EQ(dest[5], sentinel);

	// n == max: the whole text fits, with the terminator in the last place.
	Fill(dest, 16);
	EXPECT_EQ(Bounded(dest, 4, &length, WIDE("%d"), 123), S_OK);
	EXPECT_EQ(Text(dest), u"123");
	EXPECT_EQ(length, 3u);
	EXPECT_EQ(dest[4], sentinel);

	// The first max units, even when that parts a surrogate pair.
	Fill(dest, 16);
	EXPECT_EQ(Bounded(dest, 2, &length, WIDE("%s"), WIDE("\U0001F600")),
	          STRSAFE_E_INSUFFICIENT_BUFFER);
	EXPECT_EQ(dest[0], 0xD83D);
	EXPECT_EQ(dest[1], 0);
	EXPECT_EQ(dest[2], sentinel);
}

TEST(FormatBounded, CapacityNeverOverrunByLongText)
{
	std::u16string text(5000, u'x');
	for (size_t capacity = 1; capacity < 70; capacity++) {
		WCHAR dest[80];
		Fill(dest, 80);
		EXPECT_EQ(FormatBounded(dest, capacity, WIDE("%s%d%s"), text.c_str(), INT_MIN,
		                        text.c_str()),
		          STRSAFE_E_INSUFFICIENT_BUFFER);
		EXPECT_EQ(Text(dest), std::u16string(capacity - 1, u'x'));
		for (size_t i = capacity; i < 80; i++)
			ASSERT_EQ(dest[i], sentinel) << capacity << " " << i;
	}
}

static std::u16string Widen(const char *text)
{
	std::u16string wide;
	for (; *text; text++)
		wide += (char16_t)(unsigned char)*text;
	return wide;
}

TEST(FormatBounded, DecimalAgreesWithTheCLibrary)
{
	std::vector<int> values = {0, 1, -1, 9, -9, 10, -10, INT_MAX, INT_MIN, INT_MAX - 1,
	                           INT_MIN + 1};
	for (long long p = 10; p <= 1000000000; p *= 10) {
		values.push_back((int)p);
		values.push_back((int)(p - 1));
		values.push_back((int)(-p));
		values.push_back((int)(1 - p));
	}
	unsigned state = 12345;
	for (int i = 0; i < 2000; i++) {
		state = state * 1103515245u + 12345u;
		values.push_back((int)state);
	}
	for (int value : values) {
		char expected[32];
		WCHAR dest[32];
		snprintf(expected, sizeof expected, "%d", value);
		EXPECT_EQ(FormatBounded(dest, 32, WIDE("%d"), value), S_OK);
		EXPECT_EQ(Text(dest), Widen(expected)) << value;
	}
}

TEST(FormatBounded, UnsignedCodesPrintAsSignedDecimal)
{
	WCHAR dest[32];
	EXPECT_EQ(FormatBounded(dest, 32, WIDE("%d"), (DWORD)0xC0000005u), S_OK);
	EXPECT_EQ(Text(dest), u"-1073741819");
	EXPECT_EQ(FormatBounded(dest, 32, WIDE("%d"), (DWORD)0x80000000u), S_OK);
	EXPECT_EQ(Text(dest), u"-2147483648");
}

TEST(FormatBounded, TextPercentAndOtherSequences)
{
	WCHAR dest[64];
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("[%s]"), (const WCHAR *)NULL), S_OK);
	EXPECT_EQ(Text(dest), u"[(null)]");
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("100%% %x %5d %")), S_OK);
	EXPECT_EQ(Text(dest), u"100% %x %5d %");
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("%s|%s"), WIDE(""), WIDE("\u00e9\U0001F600\u4e2d")),
	          S_OK);
	EXPECT_EQ(Text(dest), u"|\u00e9\U0001F600\u4e2d");
	EXPECT_EQ(FormatBounded(dest, 64, WIDE("%s failed with error %d: %s"),
	                        WIDE("WTSFreeMemoryEx"), 87, WIDE("text\n")),
	          S_OK);
	EXPECT_EQ(Text(dest), u"WTSFreeMemoryEx failed with error 87: text\n");
}
