// Names on their way to the table: decoded from UTF-8 (the Unix layer),
// then cleaned in place (ownerroll, on every system). Every buffer is of
// exactly its length, so that a read past it shows under the address
// sanitizer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "names.h"
#include "utf.h"

namespace {

std::u16string Decoded(const std::string &utf8, size_t capacity = 64)
{
	std::vector<char> bytes(utf8.begin(), utf8.end());
	std::vector<WCHAR> out(capacity);
	return std::u16string(out.data(), Utf8ToUtf16(bytes.data(), bytes.size(), out.data(), capacity, nullptr));
}

TEST(DecodeName, InvalidBytesReplacedNeverPastCapacityNorSplitsAPair)
{
	EXPECT_EQ(Decoded("прошка-✓"), u"прошка-✓");
	EXPECT_EQ(Decoded("emoji-\xf0\x9f\x98\x80"), u"emoji-\U0001F600");
	EXPECT_EQ(Decoded("bad\xff\xfename"), u"bad\uFFFD\uFFFDname");
	EXPECT_EQ(Decoded("cut\xe2\x9c"), u"cut\uFFFD\uFFFD");
	EXPECT_EQ(Decoded("over\xc0\xaf"), u"over\uFFFD\uFFFD");
	EXPECT_EQ(Decoded("surrogate\xed\xa0\x80"), u"surrogate\uFFFD\uFFFD\uFFFD");
	EXPECT_EQ(Decoded("abcdef", 3), u"abc");
	EXPECT_EQ(Decoded("ab\xf0\x9f\x98\x80", 3), u"ab");
	EXPECT_EQ(Decoded("ab\xf0\x9f\x98\x80", 4), u"ab\U0001F600");
	// A unit a byte is enough for any input: the layer's name store.
	EXPECT_EQ(Decoded("\xff\xf0\x9f\x98\x80\x01z", 7), u"\uFFFD\U0001F600\x01z");
}

// Each unit stays one unit: controls, separators and bidirectional
// controls become '?', a surrogate without its partner U+FFFD.
TEST(CleanName, InPlaceAtTheSameLength)
{
	const struct {
		std::u16string in, out;
	} cases[] = {
		{u"plain-name", u"plain-name"},
		{u"a\tb\nc\rd\x1b[31m", u"a?b?c?d?[31m"},
		{u"del\x7fx\x1f\x20", u"del?x? "},
		// U+0080, U+0085 and U+009F are controls; U+00A0 is not.
		{u"c1\u0080\u0085\u009f\u00a0", u"c1???\u00a0"},
		// Their neighbours stay.
		{u"\u061C\u200E\u200F\u2028\u2029\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069|"
		 u"\u061B\u200D\u2027\u202F\u2065\u206A",
		 u"??????????????|\u061B\u200D\u2027\u202F\u2065\u206A"},
		{u"\U0001F600\xD83D|\xDE00\xDE00\xD83D", u"\U0001F600\uFFFD|\uFFFD\uFFFD\uFFFD"},
		{u"caf\u00E9 \u4E2D", u"caf\u00E9 \u4E2D"},
	};
	for (const auto &c : cases) {
		std::vector<WCHAR> name(c.in.begin(), c.in.end());
		name.push_back(0);
		EXPECT_EQ(CleanName(name.data()), name.data());
		EXPECT_EQ(std::u16string(name.data()), c.out);
	}
	EXPECT_EQ(CleanName(nullptr), nullptr);
}

} // namespace
