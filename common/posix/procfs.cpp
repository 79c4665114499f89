#include "procfs.h"

#include <cstring>

#include "../utf.h"

static const char deletedMark[] = " (deleted)";
static const size_t deletedMarkLength = sizeof deletedMark - 1;

bool HasDeletedMark(const char *link, size_t length)
{
	return link != NULL && length > deletedMarkLength &&
	       memcmp(link + length - deletedMarkLength, deletedMark, deletedMarkLength) == 0;
}

bool ImageNameFromLink(const char *link, size_t length, bool dropMark, const char **name,
                       size_t *nameLength)
{
	const char *slash;

	if (link == NULL || name == NULL || nameLength == NULL)
		return false;
	if (dropMark && HasDeletedMark(link, length))
		length -= deletedMarkLength;
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
