#include "exelink.h"

#include <cstring>

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
