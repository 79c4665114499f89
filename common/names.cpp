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
		if (!IsSurrogate(units[i])) {
			if (IsUnsafe(units[i]))
				units[i] = u'?';
		} else if (Utf16Next(units + i, length - i, &value) == 2) {
			i++;
		} else {
			units[i] = replacementCharacter; // a surrogate without its partner
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
