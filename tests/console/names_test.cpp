// Names on their way to the table, decoded from UTF-8 (the Unix layer).
// Every buffer is of exactly its length, so that a read past it shows
// under the address sanitizer. Their cleaning is the output's (output_test).
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

} // namespace
