#include "names.h"

#include "utf.h"

// What could split a row, overwrite it or reorder it on the screen.
static bool IsUnsafe(WCHAR unit)
{
	return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C || unit == 0x200E ||
	       unit == 0x200F || (unit >= 0x2028 && unit <= 0x202E) ||
	       (unit >= 0x2066 && unit <= 0x2069);
}

WCHAR *CleanName(WCHAR *name)
{
	for (size_t i = 0; name != NULL && name[i] != 0; i++) {
		// Printable ASCII, nearly every unit of a name, is safe.
		if (name[i] >= 0x20 && name[i] < 0x7F)
			continue;
		// The terminator is no partner, so the unit after is there to read.
		if (IsHighSurrogate(name[i]) && IsLowSurrogate(name[i + 1]))
			i++;
		else if (IsSurrogate(name[i]))
			name[i] = replacementCharacter;
		else if (IsUnsafe(name[i]))
			name[i] = u'?';
	}
	return name;
}
