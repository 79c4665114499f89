#include "output.h"

#include <cstring>

#include "streams.h"
#include "utf.h"

enum {
	BatchBytes = 64 * 1024,
	// A console takes wide units; each write is a round trip to it, and
	// older consoles refuse writes much larger than this.
	BatchUnits = 4096
};

static union {
	char bytes[BatchBytes];
	WCHAR units[BatchUnits];
} batch;
static size_t used; // bytes, or units on a console
static bool kindKnown;
static OutputKind kind;
static WCHAR pendingHigh;
// The last character was a CR: a line feed after it is already a line end.
static bool afterCr;

static DWORD Send(void)
{
	size_t size = kind == OutputWide ? used * sizeof(WCHAR) : used;

	used = 0;
	return size == 0 ? 0 : StreamWrite(batch.bytes, size);
}

static DWORD PutWide(const WCHAR *units, size_t count)
{
	if (BatchUnits - used < count) {
		DWORD error = Send();
		if (error != 0)
			return error;
	}
	memcpy(batch.units + used, units, count * sizeof(WCHAR));
	used += count;
	return 0;
}

// One character, one unit or a whole pair, into the batch.
static DWORD PutCharacter(const WCHAR *units, size_t count)
{
	char bytes[5];
	size_t n = 0;

	if (kind == OutputWide)
		return PutWide(units, count);
	if (kind == OutputUtf8CrLf && units[0] == '\n' && !afterCr)
		bytes[n++] = '\r';
	afterCr = units[0] == '\r';
	if (units[0] < 0x80)
		bytes[n++] = (char)units[0];
	else
		n += Utf16ToUtf8(units, count, bytes + n, 4, NULL);
	if (BatchBytes - used < n) {
		DWORD error = Send();
		if (error != 0)
			return error;
	}
	for (size_t i = 0; i < n; i++)
		batch.bytes[used++] = bytes[i];
	return 0;
}

static DWORD PutUnit(WCHAR unit)
{
	WCHAR pair[2];

	if (pendingHigh != 0) {
		pair[0] = pendingHigh;
		pendingHigh = 0;
		if (IsLowSurrogate(unit)) {
			pair[1] = unit;
			return PutCharacter(pair, 2);
		}
		DWORD error = PutCharacter(&replacementCharacter, 1);
		if (error != 0)
			return error;
	}
	if (IsHighSurrogate(unit)) {
		pendingHigh = unit;
		return 0;
	}
	return PutCharacter(IsLowSurrogate(unit) ? &replacementCharacter : &unit, 1);
}

// What could split a row, overwrite it or reorder it on the screen: the
// C0 and C1 controls and DEL, the line and paragraph separators and the
// bidirectional controls.
static bool BreaksACell(WCHAR unit)
{
	return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C || unit == 0x200E ||
	       unit == 0x200F || (unit >= 0x2028 && unit <= 0x202E) ||
	       (unit >= 0x2066 && unit <= 0x2069);
}

// The units of one text; for a name, whatever would break its cell goes in
// as '?'. The text is only read: it may be the platform's.
static DWORD PutText(const WCHAR *text, size_t length, bool name)
{
	// Below this, printable ASCII, nearly all of a table.
	const WCHAR asciiEnd = name ? 0x7F : 0x80;
	DWORD error = 0;

	if (!kindKnown) {
		error = StreamOutputKind(&kind);
		if (error != 0)
			return error;
		kindKnown = true;
	}
	for (size_t i = 0; i < length && error == 0; i++) {
		// Goes straight in as UTF-8.
		if (text[i] >= 0x20 && text[i] < asciiEnd && kind != OutputWide && pendingHigh == 0 &&
		    used < BatchBytes) {
			batch.bytes[used++] = (char)text[i];
			afterCr = false;
			continue;
		}
		error = PutUnit(name && BreaksACell(text[i]) ? (WCHAR)'?' : text[i]);
	}
	return error;
}

DWORD OutputText(const WCHAR *text, size_t length)
{
	return PutText(text, length, false);
}

DWORD OutputEndText(void)
{
	if (pendingHigh == 0)
		return 0;
	pendingHigh = 0;
	return PutCharacter(&replacementCharacter, 1);
}

DWORD OutputName(const WCHAR *name, size_t length)
{
	DWORD error = OutputEndText();

	if (error == 0)
		error = PutText(name, length, true);
	return error != 0 ? error : OutputEndText();
}

DWORD OutputFlush(void)
{
	return Send();
}
