// The pure functions over /proc contents on crafted buffers. Every buffer
// is a vector of exactly its length, so that a read past it shows under
// the address sanitizer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "posix/procfs.h"

namespace {

// A heap copy of exactly the bytes of s, never at a null pointer.
std::vector<char> Copy(const std::string &s)
{
	std::vector<char> bytes(s.begin(), s.end());
	bytes.reserve(1);
	return bytes;
}

// The name in a link, with the mark dropped when dropMark says the file
// is gone.
std::string Image(const std::string &link, bool dropMark = true)
{
	std::vector<char> e = Copy(link);
	const char *name = nullptr;
	size_t length = 0;
	if (!ImageNameFromLink(e.data(), e.size(), dropMark, &name, &length))
		return "<none>";
	EXPECT_GE(name, e.data());
	EXPECT_LE(name + length, e.data() + e.size());
	return std::string(name, length);
}

TEST(ImageName, LastComponentAndTheDeletedMark)
{
	EXPECT_EQ(Image("/usr/bin/bash"), "bash");
	EXPECT_EQ(Image("/tmp/x/fixture (deleted)"), "fixture");
	EXPECT_EQ(Image("/tmp/x/fixture (deleted)", false), "fixture (deleted)");
	EXPECT_EQ(Image("/memfd:run (deleted)"), "memfd:run");
	EXPECT_EQ(Image("/odd dir/name with (parens)"), "name with (parens)");
	EXPECT_EQ(Image("/a/b (deleted) (deleted)"), "b (deleted)");
	EXPECT_EQ(Image("plain"), "plain");
	EXPECT_EQ(Image("/"), "<none>");
	EXPECT_EQ(Image("/a/"), "<none>");
	EXPECT_EQ(Image("/a/ (deleted)"), "<none>");
	EXPECT_EQ(Image("/a/ (deleted)", false), " (deleted)");
	EXPECT_EQ(Image(""), "<none>");
	const char *name;
	size_t length;
	EXPECT_FALSE(ImageNameFromLink(nullptr, 0, true, &name, &length));

	const std::string marks[] = {"/x (deleted)", " (deleted)", "deleted)"};
	// The mark alone is a name, not a mark.
	for (const std::string &m : marks)
		EXPECT_EQ(HasDeletedMark(Copy(m).data(), m.size()), m[0] == '/') << m;
	EXPECT_FALSE(HasDeletedMark(nullptr, 12));
}

std::u16string Sanitized(const std::string &utf8, size_t capacity = 64)
{
	std::vector<char> e = Copy(utf8);
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

} // namespace
