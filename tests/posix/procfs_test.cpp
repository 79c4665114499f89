// The parsers of /proc file contents on crafted buffers. Every buffer is a
// heap copy of exactly its length, so that a read past it shows under the
// address sanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "posix/procfs.h"

namespace {

struct Exact {
	std::unique_ptr<char[]> bytes;
	size_t length;
};

Exact Copy(const std::string &s)
{
	Exact e{std::unique_ptr<char[]>(new char[s.size() ? s.size() : 1]), s.size()};
	memcpy(e.bytes.get(), s.data(), s.size());
	return e;
}

const std::string statLine =
	"4242 (fix) (ture) S 1 4242 4100 34817 4242 4194560 1215 0 0 0 "
	"250 130 0 0 20 0 7 0 123456 8417280 868 18446744073709551615 1 1 0 0 0 0 0 "
	"0 65536 0 0 0 17 1 0 0 0 0 0 0 0 0 0 0 0 0 0\n";

std::string Comm(const ProcStat &s)
{
	return std::string(s.comm, s.commLength);
}

TEST(ProcStat, FieldsAfterTheLastParenthesis)
{
	Exact e = Copy(statLine);
	ProcStat s;
	ASSERT_TRUE(ParseStat(e.bytes.get(), e.length, &s));
	EXPECT_EQ(Comm(s), "fix) (ture");
	EXPECT_EQ(s.session, 4100u);
	EXPECT_EQ(s.userTicks, 250u);
	EXPECT_EQ(s.systemTicks, 130u);
	EXPECT_EQ(s.threads, 7u);
}

TEST(ProcStat, CommMayBeEmptyOrHoldAnything)
{
	ProcStat s;
	Exact e = Copy("9 () R 1 9 9 0 -1 0 0 0 0 0 1 2 0 0 20 0 1 0\n");
	ASSERT_TRUE(ParseStat(e.bytes.get(), e.length, &s));
	EXPECT_EQ(Comm(s), "");
	EXPECT_EQ(s.session, 9u);
	EXPECT_EQ(s.threads, 1u);

	std::string odd = std::string("10 (a\nb) c 0 1 2 (x) R 1 10 3 0 -1 0 0 0 0 0 1 2 0 0 20 0 4 0\n");
	e = Copy(odd);
	ASSERT_TRUE(ParseStat(e.bytes.get(), e.length, &s));
	EXPECT_EQ(Comm(s), "a\nb) c 0 1 2 (x");
	EXPECT_EQ(s.session, 3u);
	EXPECT_EQ(s.threads, 4u);
}

TEST(ProcStat, EveryCutBeforeTheThreadCountFails)
{
	// The thread count is field 20; the blank after it must be there too.
	size_t threadsEnd = statLine.find(" 7 0 123456") + 2;
	for (size_t n = 0; n <= statLine.size(); n++) {
		Exact e = Copy(statLine.substr(0, n));
		ProcStat s;
		bool ok = ParseStat(e.bytes.get(), e.length, &s);
		if (ok) {
			EXPECT_EQ(s.threads, 7u) << "cut at " << n;
		}
		EXPECT_EQ(ok, n > threadsEnd) << "cut at " << n;
	}
}

TEST(ProcStat, MalformedLinesFail)
{
	const char *bad[] = {
		"",
		"1 (x",
		"1 x) S 1 1 1 0 -1 0 0 0 0 0 1 2 0 0 20 0 1 0\n",      // no '('
		"1 (x) S 1 1 abc 0 -1 0 0 0 0 0 1 2 0 0 20 0 1 0\n",   // session not a number
		"1 (x) S 1 1 -1 0 -1 0 0 0 0 0 1 2 0 0 20 0 1 0\n",    // negative session
		"1 (x) S 1 1 1 0 -1 0 0 0 0 0 1 2 0 0 20 0 x 0\n",     // thread count not a number
		"1 (x) S 1 1 1 0 -1 0 0 0 0 0 1 2 0 0 20 0 1x 0\n",    // trailing junk
		"1 (x) S 1 1 4294967296 0 -1 0 0 0 0 0 1 2 0 0 20 0 1 0\n", // session too large
		"1 (x) S  1 1 1 0 -1 0 0 0 0 0 1 2 0 0 20 0 1 0\n",    // empty field
		"1 (x) S 1 1 1 0 -1 0 0 0 0 0 99999999999999999999 2 0 0 20 0 1 0\n", // utime overflows
	};
	for (const char *b : bad) {
		Exact e = Copy(b);
		ProcStat s;
		EXPECT_FALSE(ParseStat(e.bytes.get(), e.length, &s)) << b;
	}
	EXPECT_FALSE(ParseStat(nullptr, 0, nullptr));
}

// As the kernel writes it: the name escaped, the session of each pid
// namespace level from the outermost in.
const std::string statusText =
	"Name:\t fix\\\\\\n\tture\n"
	"Umask:\t0022\n"
	"State:\tS (sleeping)\n"
	"Tgid:\t4242\n"
	"Pid:\t4242\n"
	"Uid:\t1000\t2000\t3000\t4000\n"
	"Gid:\t100\t100\t100\t100\n"
	"Groups:\t27 100 \n"
	"NStgid:\t4242\t7\n"
	"NSpid:\t4242\t7\n"
	"NSpgid:\t4100\t1\n"
	"NSsid:\t4099\t1\n"
	"VmHWM:\t    2048 kB\n"
	"VmRSS:\t    1536 kB\n"
	"Threads:\t12\n"
	"SigQ:\t0/127436\n";

std::string Name(const ProcStatus &s)
{
	return std::string(s.name, s.nameLength);
}

TEST(ProcStatus, NameSessionEffectiveUidThreadsAndMemory)
{
	Exact e = Copy(statusText);
	ProcStatus s;
	ASSERT_TRUE(ParseStatus(e.bytes.get(), e.length, &s));
	ASSERT_TRUE(s.hasName);
	EXPECT_EQ(Name(s), " fix\\\\\\n\tture");
	std::string decoded(s.nameLength, 0);
	decoded.resize(DecodeTaskName(s.name, s.nameLength, &decoded[0], decoded.size()));
	EXPECT_EQ(decoded, " fix\\\n\tture");
	ASSERT_TRUE(s.hasSession);
	EXPECT_EQ(s.session, 4099u);
	ASSERT_TRUE(s.hasEffectiveUid);
	EXPECT_EQ(s.effectiveUid, 2000u);
	ASSERT_TRUE(s.hasThreads);
	EXPECT_EQ(s.threads, 12u);
	ASSERT_TRUE(s.hasResident);
	EXPECT_EQ(s.residentBytes, 1536u * 1024);
	ASSERT_TRUE(s.hasPeakResident);
	EXPECT_EQ(s.peakResidentBytes, 2048u * 1024);
}

TEST(ProcStatus, KernelThreadHasNoMemoryLines)
{
	Exact e = Copy("Name:\tkthreadd\nUid:\t0\t0\t0\t0\nNSsid:\t0\nThreads:\t1\n");
	ProcStatus s;
	ASSERT_TRUE(ParseStatus(e.bytes.get(), e.length, &s));
	EXPECT_EQ(Name(s), "kthreadd");
	EXPECT_TRUE(s.hasSession);
	EXPECT_EQ(s.session, 0u);
	EXPECT_TRUE(s.hasEffectiveUid);
	EXPECT_EQ(s.effectiveUid, 0u);
	EXPECT_TRUE(s.hasThreads);
	EXPECT_FALSE(s.hasResident);
	EXPECT_FALSE(s.hasPeakResident);
}

TEST(ProcStatus, CutFileKeepsOnlyWholeLines)
{
	size_t nameEnd = statusText.find('\n');
	size_t uidEnd = statusText.find('\n', statusText.find("Uid:"));
	size_t sessionEnd = statusText.find('\n', statusText.find("NSsid:"));
	size_t threadsEnd = statusText.find('\n', statusText.find("Threads:"));
	for (size_t n = 0; n <= statusText.size(); n++) {
		Exact e = Copy(statusText.substr(0, n));
		ProcStatus s;
		ASSERT_TRUE(ParseStatus(e.bytes.get(), e.length, &s));
		EXPECT_EQ(s.hasName, n > nameEnd) << "cut at " << n;
		if (s.hasName) {
			EXPECT_EQ(s.name, e.bytes.get() + 6);
			EXPECT_EQ(s.nameLength, nameEnd - 6);
		}
		EXPECT_EQ(s.hasSession, n > sessionEnd) << "cut at " << n;
		if (s.hasSession) {
			EXPECT_EQ(s.session, 4099u);
		}
		EXPECT_EQ(s.hasEffectiveUid, n > uidEnd) << "cut at " << n;
		if (s.hasEffectiveUid) {
			EXPECT_EQ(s.effectiveUid, 2000u);
		}
		EXPECT_EQ(s.hasThreads, n > threadsEnd) << "cut at " << n;
		if (s.hasThreads) {
			EXPECT_EQ(s.threads, 12u) << "cut at " << n;
		}
	}
}

TEST(ProcStatus, MalformedLinesLeaveTheirFieldsUnset)
{
	const char *bad[] = {
		"Name:fix\nUid:\t1000\nNSsid:\t\nThreads:\t\n",
		"Name fix\nUid:\nNSsid:\tx\nThreads:\tx\n",
		"name:\tfix\nUid:\t1000\t\nNSsid:\t12x\t1\nThreads:\t1 2\n",
		"Uid:\t1000\tabc\t0\t0\nNSsid:\t-1\nThreads:\t-1\n",
		"Uid:\t1000\t99999999999\t0\t0\nNSsid:\t4294967296\nThreads:\t99999999999\n",
		"Uid 1000 1000\nNSsid 5\nthreads:\t3\n",
	};
	for (const char *b : bad) {
		Exact e = Copy(b);
		ProcStatus s;
		ASSERT_TRUE(ParseStatus(e.bytes.get(), e.length, &s));
		EXPECT_FALSE(s.hasName) << b;
		EXPECT_FALSE(s.hasEffectiveUid) << b;
		EXPECT_FALSE(s.hasSession) << b;
		EXPECT_FALSE(s.hasThreads) << b;
	}
	ProcStatus s;
	Exact e = Copy("");
	ASSERT_TRUE(ParseStatus(e.bytes.get(), 0, &s));
	EXPECT_FALSE(s.hasName || s.hasEffectiveUid || s.hasSession || s.hasThreads ||
	             s.hasResident || s.hasPeakResident);
	EXPECT_FALSE(ParseStatus(nullptr, 0, &s));
	EXPECT_FALSE(ParseStatus(e.bytes.get(), 0, nullptr));
}

TEST(ProcStatus, EmptyNameAndTheLargestSession)
{
	Exact e = Copy("Name:\t\nNSsid:\t4294967295\n");
	ProcStatus s;
	ASSERT_TRUE(ParseStatus(e.bytes.get(), e.length, &s));
	EXPECT_TRUE(s.hasName);
	EXPECT_EQ(s.nameLength, 0u);
	EXPECT_TRUE(s.hasSession);
	EXPECT_EQ(s.session, 4294967295u);
}

std::string Decoded(const std::string &escaped, size_t capacity = 64)
{
	Exact e = Copy(escaped);
	std::unique_ptr<char[]> out(new char[capacity ? capacity : 1]);
	size_t n = DecodeTaskName(e.bytes.get(), e.length, out.get(), capacity);
	EXPECT_LE(n, capacity);
	return std::string(out.get(), n);
}

TEST(TaskName, KernelEscapesUndone)
{
	EXPECT_EQ(Decoded("plain"), "plain");
	EXPECT_EQ(Decoded(""), "");
	EXPECT_EQ(Decoded("a\\nb"), "a\nb");
	EXPECT_EQ(Decoded("a\\\\b"), "a\\b");
	// An escaped backslash before an "n" is no line feed.
	EXPECT_EQ(Decoded("a\\\\nb"), "a\\nb");
	EXPECT_EQ(Decoded("\\\\\\n"), "\\\n");
	// Tabs and other bytes are not escaped.
	EXPECT_EQ(Decoded("tab\there\xff"), "tab\there\xff");
	// Unknown sequences and a backslash at the end stand as they are.
	EXPECT_EQ(Decoded("a\\tb\\x\\"), "a\\tb\\x\\");
	EXPECT_EQ(Decoded("\\"), "\\");
}

TEST(TaskName, NeverPastCapacity)
{
	EXPECT_EQ(Decoded("abcdef", 3), "abc");
	EXPECT_EQ(Decoded("a\\nbc", 2), "a\n");
	EXPECT_EQ(Decoded("abc", 0), "");
	char out[4] = {'x', 'x', 'x', 'x'};
	EXPECT_EQ(DecodeTaskName(nullptr, 3, out, sizeof out), 0u);
	EXPECT_EQ(DecodeTaskName("abc", 3, nullptr, 3), 0u);
	EXPECT_EQ(out[0], 'x');
}

std::string Image(const std::string &link)
{
	Exact e = Copy(link);
	const char *name = nullptr;
	size_t length = 0;
	if (!ImageNameFromLink(e.bytes.get(), e.length, &name, &length))
		return "<none>";
	EXPECT_GE(name, e.bytes.get());
	EXPECT_LE(name + length, e.bytes.get() + e.length);
	return std::string(name, length);
}

TEST(ImageName, LastComponentWithoutDeletedMark)
{
	EXPECT_EQ(Image("/usr/bin/bash"), "bash");
	EXPECT_EQ(Image("/tmp/x/fixture (deleted)"), "fixture");
	EXPECT_EQ(Image("/memfd:run (deleted)"), "memfd:run");
	EXPECT_EQ(Image("/odd dir/name with (parens)"), "name with (parens)");
	EXPECT_EQ(Image("/a/b (deleted) (deleted)"), "b (deleted)");
	EXPECT_EQ(Image("plain"), "plain");
	EXPECT_EQ(Image("/"), "<none>");
	EXPECT_EQ(Image("/a/"), "<none>");
	EXPECT_EQ(Image("/a/ (deleted)"), "<none>");
	EXPECT_EQ(Image(""), "<none>");
	const char *name;
	size_t length;
	EXPECT_FALSE(ImageNameFromLink(nullptr, 0, &name, &length));
}

std::u16string Sanitized(const std::string &utf8, size_t capacity = 64)
{
	Exact e = Copy(utf8);
	std::unique_ptr<WCHAR[]> out(new WCHAR[capacity]);
	size_t n = SanitizeName(e.bytes.get(), e.length, out.get(), capacity);
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
