#include "procfs.h"

#include <cstring>

#include "../utf.h"

// Reads a decimal number at [*p, end) no larger than max; at least one
// digit. On success *p is left after the digits.
static bool ParseNumber(const char **p, const char *end, uint64_t max, uint64_t *value)
{
	const char *s = *p;
	uint64_t v = 0;

	if (s == end || *s < '0' || *s > '9')
		return false;
	while (s < end && *s >= '0' && *s <= '9') {
		unsigned digit = (unsigned)(*s - '0');
		if (v > (max - digit) / 10)
			return false;
		v = v * 10 + digit;
		s++;
	}
	*p = s;
	*value = v;
	return true;
}

// Steps over the one blank that separates the fields of a stat line and
// the field after it, leaving *p on the blank that ends it.
static bool SkipStatField(const char **p, const char *end)
{
	const char *s = *p;

	if (s == end || *s != ' ')
		return false;
	s++;
	if (s == end || *s == ' ' || *s == '\n')
		return false;
	while (s < end && *s != ' ' && *s != '\n')
		s++;
	*p = s;
	return true;
}

// Reads the next stat field as a number. The blank or line feed after it
// must be there too: a number at the very end may have been cut short.
static bool StatNumber(const char **p, const char *end, uint64_t max, uint64_t *value)
{
	const char *s = *p;

	if (s == end || *s != ' ')
		return false;
	s++;
	if (!ParseNumber(&s, end, max, value))
		return false;
	if (s == end || (*s != ' ' && *s != '\n'))
		return false;
	*p = s;
	return true;
}

bool ParseStat(const char *buffer, size_t length, ProcStat *stat)
{
	const char *end, *open, *close, *p;
	uint64_t session, utime, stime, threads;

	if (buffer == NULL || stat == NULL)
		return false;
	end = buffer + length;
	open = (const char *)memchr(buffer, '(', length);
	if (open == NULL)
		return false;
	close = (const char *)memrchr(open, ')', (size_t)(end - open));
	if (close == NULL)
		return false;
	p = close + 1;
	// state, ppid, pgrp, then the session.
	for (int i = 0; i < 3; i++)
		if (!SkipStatField(&p, end))
			return false;
	if (!StatNumber(&p, end, UINT32_MAX, &session))
		return false;
	// tty_nr, tpgid, flags, minflt, cminflt, majflt, cmajflt.
	for (int i = 0; i < 7; i++)
		if (!SkipStatField(&p, end))
			return false;
	if (!StatNumber(&p, end, UINT64_MAX, &utime) ||
	    !StatNumber(&p, end, UINT64_MAX, &stime))
		return false;
	// cutime, cstime, priority, nice.
	for (int i = 0; i < 4; i++)
		if (!SkipStatField(&p, end))
			return false;
	if (!StatNumber(&p, end, UINT32_MAX, &threads))
		return false;
	stat->comm = open + 1;
	stat->commLength = (size_t)(close - open - 1);
	stat->session = (uint32_t)session;
	stat->userTicks = utime;
	stat->systemTicks = stime;
	stat->threads = (uint32_t)threads;
	return true;
}

// A number in kB, as the memory lines give it, in bytes.
static bool ParseKilobytes(const char **p, const char *end, uint64_t *bytes)
{
	uint64_t kb;

	if (!ParseNumber(p, end, UINT64_MAX / 1024, &kb))
		return false;
	*bytes = kb * 1024;
	return true;
}

static const char *SkipBlanks(const char *s, const char *end)
{
	while (s < end && (*s == ' ' || *s == '\t'))
		s++;
	return s;
}

// True when the line at [line, end) starts with key; *p then follows it.
static bool LineKey(const char *line, const char *end, const char *key, const char **p)
{
	size_t n = strlen(key);

	if ((size_t)(end - line) < n || memcmp(line, key, n) != 0)
		return false;
	*p = line + n;
	return true;
}

bool ParseStatus(const char *buffer, size_t length, ProcStatus *status)
{
	const char *end, *line = buffer;

	if (buffer == NULL || status == NULL)
		return false;
	end = buffer + length;
	memset(status, 0, sizeof *status);
	while (line < end) {
		const char *eol = (const char *)memchr(line, '\n', (size_t)(end - line));
		const char *p;
		uint64_t v;

		// A line without its line feed may have been cut short.
		if (eol == NULL)
			break;
		if (LineKey(line, eol, "Name:\t", &p)) {
			// The rest of the line, blanks and all: a line feed in the
			// name is escaped.
			status->hasName = true;
			status->name = p;
			status->nameLength = (size_t)(eol - p);
		} else if (LineKey(line, eol, "Uid:", &p)) {
			// Real, effective, saved and file-system uid: the second.
			p = SkipBlanks(p, eol);
			if (ParseNumber(&p, eol, UINT32_MAX, &v) && p < eol && (*p == ' ' || *p == '\t')) {
				p = SkipBlanks(p, eol);
				if (ParseNumber(&p, eol, UINT32_MAX, &v) && (p == eol || *p == ' ' || *p == '\t')) {
					status->hasEffectiveUid = true;
					status->effectiveUid = (uint32_t)v;
				}
			}
		} else if (LineKey(line, eol, "NSsid:", &p)) {
			// One session per pid namespace level, this /proc's first.
			p = SkipBlanks(p, eol);
			if (ParseNumber(&p, eol, UINT32_MAX, &v) && (p == eol || *p == ' ' || *p == '\t')) {
				status->hasSession = true;
				status->session = (uint32_t)v;
			}
		} else if (LineKey(line, eol, "Threads:", &p)) {
			p = SkipBlanks(p, eol);
			if (ParseNumber(&p, eol, UINT32_MAX, &v) && p == eol) {
				status->hasThreads = true;
				status->threads = (uint32_t)v;
			}
		} else if (LineKey(line, eol, "VmRSS:", &p)) {
			p = SkipBlanks(p, eol);
			status->hasResident = ParseKilobytes(&p, eol, &status->residentBytes);
		} else if (LineKey(line, eol, "VmHWM:", &p)) {
			p = SkipBlanks(p, eol);
			status->hasPeakResident = ParseKilobytes(&p, eol, &status->peakResidentBytes);
		}
		line = eol + 1;
	}
	return true;
}

size_t DecodeTaskName(const char *src, size_t length, char *dest, size_t capacity)
{
	size_t n = 0;

	if (src == NULL || dest == NULL)
		return 0;
	for (size_t i = 0; i < length && n < capacity; i++) {
		char c = src[i];
		if (c == '\\' && i + 1 < length && (src[i + 1] == 'n' || src[i + 1] == '\\')) {
			i++;
			c = src[i] == 'n' ? '\n' : '\\';
		}
		dest[n++] = c;
	}
	return n;
}

bool ImageNameFromLink(const char *link, size_t length, const char **name,
                       size_t *nameLength)
{
	static const char deleted[] = " (deleted)";
	const size_t deletedLength = sizeof deleted - 1;
	const char *slash;

	if (link == NULL || name == NULL || nameLength == NULL)
		return false;
	if (length > deletedLength &&
	    memcmp(link + length - deletedLength, deleted, deletedLength) == 0)
		length -= deletedLength;
	slash = (const char *)memrchr(link, '/', length);
	if (slash != NULL) {
		length -= (size_t)(slash + 1 - link);
		link = slash + 1;
	}
	if (length == 0)
		return false;
	*name = link;
	*nameLength = length;
	return true;
}

size_t SanitizeName(const char *src, size_t length, WCHAR *dest, size_t capacity)
{
	size_t n;

	if (dest == NULL || capacity == 0)
		return 0;
	n = src == NULL ? 0 : Utf8ToUtf16(src, length, dest, capacity - 1, NULL);
	// Controls, the line and paragraph separators and the bidirectional
	// controls: each could split a row or reorder it on the screen.
	for (size_t i = 0; i < n; i++)
		if (dest[i] < 0x20 || (dest[i] >= 0x7F && dest[i] <= 0x9F) || dest[i] == 0x061C ||
		    dest[i] == 0x200E || dest[i] == 0x200F || (dest[i] >= 0x2028 && dest[i] <= 0x202E) ||
		    (dest[i] >= 0x2066 && dest[i] <= 0x2069))
			dest[i] = u'?';
	dest[n] = 0;
	return n;
}
