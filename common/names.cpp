#include "names.h"

#include "utf.h"

// What could split a row, overwrite it or reorder it on the screen.
static bool IsUnsafe(WCHAR unit)
{
	return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C || unit == 0x200E ||
	       unit == 0x200F || (unit >= 0x2028 && unit <= 0x202E) ||
	       (unit >= 0x2066 && unit <= 0x2069);
}

static void CleanUnits(WCHAR *units, size_t length)
{
	for (size_t i = 0; i < length; i++) {
		unsigned long value;

		// Printable ASCII, nearly every unit of a name, is safe.
		if (units[i] >= 0x20 && units[i] < 0x7F)
			continue;
		if (units[i] < 0xD800 || units[i] > 0xDFFF) {
			if (IsUnsafe(units[i]))
				units[i] = u'?';
		} else if (Utf16Next(units + i, length - i, &value) == 2) {
			i++;
		} else {
			units[i] = 0xFFFD; // a surrogate without its partner
		}
	}
}

WCHAR *CleanName(WCHAR *name)
{
	size_t length = 0;

	if (name == NULL)
		return NULL;
	while (name[length] != 0)
		length++;
	CleanUnits(name, length);
	return name;
}

size_t SanitizeName(const char *src, size_t length, WCHAR *dest, size_t capacity)
{
	size_t n;

	if (dest == NULL || capacity == 0)
		return 0;
	n = src == NULL ? 0 : Utf8ToUtf16(src, length, dest, capacity - 1, NULL);
	CleanUnits(dest, n);
	dest[n] = 0;
	return n;
}
