// The parsers of /proc files fed arbitrary bytes, each checked both ways
// against a plain reading of the same rules: what the reading accepts the
// parser accepts with the same values, and the other way round. The bytes
// end exactly where the input does, so any read past them is caught.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "input.h"
#include "posix/procfs.h"
#include "reference.h"

static void Fail(const char *what)
{
	fprintf(stderr, "procfs_fuzz: %s\n", what);
	abort();
}

// All digits, at most max. Anything else gives false.
static bool ReferenceNumber(const std::string &text, uint64_t max, uint64_t *value)
{
	uint64_t v = 0;

	if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
		return false;
	for (char c : text) {
		unsigned digit = (unsigned)(c - '0');
		if (v > max / 10 || v * 10 > max - digit)
			return false;
		v = v * 10 + digit;
	}
	*value = v;
	return true;
}

// The stat line: the comm between the first '(' and the last ')', then
// fields each after exactly one blank; the fourth is the session, the
// twelfth and thirteenth the times, the eighteenth the threads, and each
// number must be followed by a blank or a line feed.
static bool ReferenceStat(const std::string &text, ProcStat *stat, size_t *commAt)
{
	size_t open = text.find('(');
	size_t close = text.rfind(')');
	uint64_t values[18] = {};

	if (open == std::string::npos || close == std::string::npos || close < open)
		return false;
	size_t at = close + 1;
	for (int field = 0; field < 18; field++) {
		if (at >= text.size() || text[at] != ' ')
			return false;
		size_t start = at + 1;
		size_t stop = text.find_first_of(" \n", start);
		if (stop == std::string::npos)
			stop = text.size();
		std::string token = text.substr(start, stop - start);
		if (token.empty())
			return false;
		bool number = field == 3 || field == 11 || field == 12 || field == 17;
		if (number) {
			uint64_t max = field == 3 || field == 17 ? UINT32_MAX : UINT64_MAX;
			if (!ReferenceNumber(token, max, &values[field]) || stop == text.size())
				return false;
		}
		at = stop;
	}
	*commAt = open + 1;
	stat->commLength = close - open - 1;
	stat->session = (uint32_t)values[3];
	stat->userTicks = values[11];
	stat->systemTicks = values[12];
	stat->threads = (uint32_t)values[17];
	return true;
}

static size_t SkipBlanks(const std::string &line, size_t at)
{
	size_t p = line.find_first_not_of(" \t", at);
	return p == std::string::npos ? line.size() : p;
}

static size_t DigitsEnd(const std::string &line, size_t at)
{
	size_t p = line.find_first_not_of("0123456789", at);
	return p == std::string::npos ? line.size() : p;
}

// The status file, complete lines only, in order; a later good line wins.
// Name and a tab: the rest of the line, whatever it holds; Uid: two
// numbers, the second followed by a blank or the end; NSsid: a number
// followed by a blank or the end; Threads: one number and nothing after;
// VmRSS and VmHWM: a number of kB, and a bad line takes back what an
// earlier one gave. nameAt is the name's offset in text.
static void ReferenceStatus(const std::string &text, ProcStatus *status, size_t *nameAt)
{
	size_t start = 0;

	memset(status, 0, sizeof *status);
	for (;;) {
		size_t eol = text.find('\n', start);
		if (eol == std::string::npos)
			break;
		std::string line = text.substr(start, eol - start);
		start = eol + 1;
		uint64_t v;
		if (line.compare(0, 6, "Name:\t") == 0) {
			status->hasName = true;
			status->nameLength = line.size() - 6;
			*nameAt = eol - status->nameLength;
		} else if (line.compare(0, 4, "Uid:") == 0) {
			size_t a = SkipBlanks(line, 4), b = DigitsEnd(line, a);
			if (!ReferenceNumber(line.substr(a, b - a), UINT32_MAX, &v) ||
			    b == line.size() || (line[b] != ' ' && line[b] != '\t'))
				continue;
			a = SkipBlanks(line, b);
			b = DigitsEnd(line, a);
			if (!ReferenceNumber(line.substr(a, b - a), UINT32_MAX, &v) ||
			    (b != line.size() && line[b] != ' ' && line[b] != '\t'))
				continue;
			status->hasEffectiveUid = true;
			status->effectiveUid = (uint32_t)v;
		} else if (line.compare(0, 6, "NSsid:") == 0) {
			size_t a = SkipBlanks(line, 6), b = DigitsEnd(line, a);
			if (ReferenceNumber(line.substr(a, b - a), UINT32_MAX, &v) &&
			    (b == line.size() || line[b] == ' ' || line[b] == '\t')) {
				status->hasSession = true;
				status->session = (uint32_t)v;
			}
		} else if (line.compare(0, 8, "Threads:") == 0) {
			size_t a = SkipBlanks(line, 8);
			if (ReferenceNumber(line.substr(a), UINT32_MAX, &v)) {
				status->hasThreads = true;
				status->threads = (uint32_t)v;
			}
		} else if (line.compare(0, 6, "VmRSS:") == 0 || line.compare(0, 6, "VmHWM:") == 0) {
			bool rss = line[2] == 'R';
			size_t a = SkipBlanks(line, 6), b = DigitsEnd(line, a);
			bool good = ReferenceNumber(line.substr(a, b - a), UINT64_MAX / 1024, &v);
			if (rss) {
				status->hasResident = good;
				if (good)
					status->residentBytes = v * 1024;
			} else {
				status->hasPeakResident = good;
				if (good)
					status->peakResidentBytes = v * 1024;
			}
		}
	}
}

static void CheckStat(const char *bytes, size_t length)
{
	const std::string text(bytes, length);
	ProcStat got, want;
	size_t commAt = 0;
	bool parsed = ParseStat(bytes, length, &got);

	if (parsed != ReferenceStat(text, &want, &commAt))
		Fail(parsed ? "stat: accepted what the reference refuses"
		            : "stat: refused what the reference accepts");
	if (!parsed)
		return;
	if (got.comm != bytes + commAt || got.commLength != want.commLength)
		Fail("stat: comm differs");
	if (got.comm + got.commLength > bytes + length)
		Fail("stat: comm beyond the buffer");
	if (got.session != want.session || got.userTicks != want.userTicks ||
	    got.systemTicks != want.systemTicks || got.threads != want.threads)
		Fail("stat: values differ");
}

static void CheckStatus(const char *bytes, size_t length)
{
	ProcStatus got, want;
	size_t nameAt = 0;

	if (!ParseStatus(bytes, length, &got))
		Fail("status: failed with a buffer");
	ReferenceStatus(std::string(bytes, length), &want, &nameAt);
	if (got.hasName != want.hasName ||
	    (want.hasName && (got.name != bytes + nameAt || got.nameLength != want.nameLength)))
		Fail("status: Name differs");
	if (got.hasSession != want.hasSession || (want.hasSession && got.session != want.session))
		Fail("status: NSsid differs");
	if (got.hasEffectiveUid != want.hasEffectiveUid ||
	    (want.hasEffectiveUid && got.effectiveUid != want.effectiveUid))
		Fail("status: Uid differs");
	if (got.hasThreads != want.hasThreads || (want.hasThreads && got.threads != want.threads))
		Fail("status: Threads differs");
	if (got.hasResident != want.hasResident ||
	    (want.hasResident && got.residentBytes != want.residentBytes))
		Fail("status: VmRSS differs");
	if (got.hasPeakResident != want.hasPeakResident ||
	    (want.hasPeakResident && got.peakResidentBytes != want.peakResidentBytes))
		Fail("status: VmHWM differs");
}

// The escapes undone, cut to the capacity, and not a byte written past it.
static void CheckTaskName(const char *bytes, size_t length, size_t capacity)
{
	const char guard = (char)0xA5;
	std::vector<char> buffer(capacity + 8, guard);
	std::string want = ReferenceTaskName(std::string(bytes, length)).substr(0, capacity);
	size_t n = DecodeTaskName(bytes, length, buffer.data(), capacity);

	if (n != want.size() || std::string(buffer.data(), n) != want)
		Fail("task name: differs from the reference");
	for (size_t i = n; i < buffer.size(); i++)
		if (buffer[i] != guard)
			Fail("task name: wrote past what it returned");
}

static void CheckLink(const char *bytes, size_t length)
{
	static const std::string deleted = " (deleted)";
	std::string text(bytes, length);
	const char *name = NULL;
	size_t nameLength = 0;
	bool named = ImageNameFromLink(bytes, length, &name, &nameLength);

	if (text.size() > deleted.size() &&
	    text.compare(text.size() - deleted.size(), deleted.size(), deleted) == 0)
		text.resize(text.size() - deleted.size());
	size_t slash = text.rfind('/');
	size_t start = slash == std::string::npos ? 0 : slash + 1;
	bool wanted = start < text.size();

	if (named != wanted)
		Fail(named ? "link: named what has no name" : "link: no name where there is one");
	if (named && (name != bytes + start || nameLength != text.size() - start))
		Fail("link: name differs");
}

// The name as one table cell: the characters, each control character as
// '?', whole characters only, and always terminated.
static void CheckSanitize(const char *bytes, size_t length, size_t capacity)
{
	const uint16_t guard = 0xA5A5;
	std::vector<WCHAR> buffer(capacity + 8, guard);
	std::u16string want;

	for (char32_t c : ReferenceDecode((const unsigned char *)bytes, length)) {
		if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
			c = U'?';
		if (capacity == 0 || want.size() + ReferenceUnits(c) > capacity - 1)
			break;
		want += ReferenceUtf16(std::u32string(1, c));
	}
	size_t n = SanitizeName(bytes, length, buffer.data(), capacity);
	if (n + 1 > SanitizedCapacity(length))
		Fail("sanitize: longer than promised");
	if (capacity == 0) {
		if (n != 0 || buffer[0] != guard)
			Fail("sanitize: wrote to an empty buffer");
	} else if (n != want.size() || std::u16string(buffer.data(), n) != want || buffer[n] != 0) {
		Fail("sanitize: differs from the reference");
	}
	for (size_t i = capacity; i < buffer.size(); i++)
		if (buffer[i] != guard)
			Fail("sanitize: wrote past the capacity");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzInput in = {data, size};
	uint8_t capacityChoice = TakeByte(&in);
	const char *bytes = (const char *)in.data;

	// A null buffer is refused whatever length comes with it.
	ProcStat stat;
	ProcStatus status;
	const char *name;
	size_t nameLength;
	char decoded[1];
	if (ParseStat(NULL, in.size, &stat) || ParseStatus(NULL, in.size, &status) ||
	    ImageNameFromLink(NULL, in.size, &name, &nameLength) ||
	    DecodeTaskName(NULL, in.size, decoded, sizeof decoded) != 0)
		Fail("a null buffer was parsed");

	size_t capacity = capacityChoice == 0xFF ? in.size + 1 : capacityChoice;
	CheckStat(bytes, in.size);
	CheckStatus(bytes, in.size);
	CheckTaskName(bytes, in.size, capacity);
	CheckLink(bytes, in.size);
	CheckSanitize(bytes, in.size, capacity);
	return 0;
}
