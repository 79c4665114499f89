// The cleaning of names for the table, from UTF-8 (the Unix layer) and in
// place on wide text (every system). Every buffer is of exactly its
// length, so that a read past it shows under the address sanitizer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "names.h"

namespace {

std::u16string Sanitized(const std::string &utf8, size_t capacity = 64)
{
	std::vector<char> e(utf8.begin(), utf8.end());
	std::unique_ptr<WCHAR[]> out(new WCHAR[capacity]);
	size_t n = SanitizeName(e.data(), e.size(), out.get(), capacity);
	EXPECT_LT(n, capacity);
	EXPECT_EQ(out[n], 0);
	return std::u16string(out.get(), n);
}

TEST(Sanitize, ControlCharactersBecomeQuestionMarks)
{
	EXPECT_EQ(Sanitized("plain-name"), u"plain-name");
	EXPECT_EQ(Sanitized("a\tb\nc\rd"), u"a?b?c?d");
	EXPECT_EQ(Sanitized(std::string("nul\0x", 5)), u"nul?x");
	EXPECT_EQ(Sanitized("del\x7f" "x"), u"del?x");
	// U+0080, U+0085 and U+009F are controls; U+00A0 is not.
	EXPECT_EQ(Sanitized("c1\xc2\x80\xc2\x85\xc2\x9f\xc2\xa0"), u"c1???\u00a0");
	EXPECT_EQ(Sanitized("\x1f\x20"), u"? ");
	// Line and paragraph separators and the bidirectional controls; their
	// neighbours stay.
	EXPECT_EQ(Sanitized("\u061C\u200E\u200F\u2028\u2029\u202A\u202B\u202C\u202D\u202E\u2066"
	                    "\u2067\u2068\u2069|\u061B\u200D\u2027\u202F\u2065\u206A"),
	          u"??????????????|\u061B\u200D\u2027\u202F\u2065\u206A");
}

TEST(Sanitize, UnicodeWholeAndInvalidBytesReplaced)
{
	EXPECT_EQ(Sanitized("прошка-✓"), u"прошка-✓");
	EXPECT_EQ(Sanitized("emoji-\xf0\x9f\x98\x80"), u"emoji-\U0001F600");
	EXPECT_EQ(Sanitized("bad\xff\xfename"), u"bad\uFFFD\uFFFDname");
	EXPECT_EQ(Sanitized("cut\xe2\x9c"), u"cut\uFFFD\uFFFD");
	EXPECT_EQ(Sanitized("over\xc0\xaf"), u"over\uFFFD\uFFFD");
	EXPECT_EQ(Sanitized("surrogate\xed\xa0\x80"), u"surrogate\uFFFD\uFFFD\uFFFD");
}

TEST(Sanitize, NeverPastCapacityNorSplitsAPair)
{
	EXPECT_EQ(Sanitized("abcdef", 4), u"abc");
	EXPECT_EQ(Sanitized("ab\xf0\x9f\x98\x80", 4), u"ab");
	EXPECT_EQ(Sanitized("ab\xf0\x9f\x98\x80", 5), u"ab\U0001F600");
	EXPECT_EQ(Sanitized("abc", 1), u"");
	// The capacity helper is enough for any input.
	std::string worst = "\xff\xf0\x9f\x98\x80\x01z";
	EXPECT_EQ(Sanitized(worst, SanitizedCapacity(worst.size())), u"\uFFFD\U0001F600?z");
	WCHAR none[1] = {0x55};
	EXPECT_EQ(SanitizeName("x", 1, none, 0), 0u);
	EXPECT_EQ(none[0], 0x55);
}

// On wide text as a system gives it: the same rules, and a surrogate
// without its partner becomes U+FFFD, in place and at the same length.
TEST(Sanitize, WideNamesInPlace)
{
	const struct {
		std::u16string in, out;
	} cases[] = {
		{u"a\tb\nc\rd\x1b[31m", u"a?b?c?d?[31m"},
		{u"\u202Eexe.txt\u2028\u200E\u0085\x7f", u"?exe.txt????"},
		{u"\U0001F600\xD83D|\xDE00\xDE00\xD83D", u"\U0001F600\uFFFD|\uFFFD\uFFFD\uFFFD"},
		{u"caf\u00E9 \u4E2D", u"caf\u00E9 \u4E2D"},
	};
	for (const auto &c : cases) {
		std::u16string name = c.in;
		EXPECT_EQ(CleanName((WCHAR *)&name[0]), (WCHAR *)&name[0]);
		EXPECT_EQ(name, c.out);
	}
	EXPECT_EQ(CleanName(nullptr), nullptr);
}

} // namespace
