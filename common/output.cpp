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

// One character, one unit or a whole pair, into the batch: written in
// place once the batch has room for all of it, so that the common call,
// with nothing to put, costs no more than its test.
static DWORD PutCharacter(const WCHAR *units, size_t count)
{
	bool cr;
	size_t n;

	if (kind == OutputWide)
		return PutWide(units, count);
	cr = kind == OutputUtf8CrLf && units[0] == '\n' && !afterCr;
	afterCr = units[0] == '\r';
	// Its UTF-8: a pair takes four bytes.
	n = (cr ? 1 : 0) + (units[0] < 0x80 ? 1 : units[0] < 0x800 ? 2 : count == 2 ? 4 : 3);
	if (BatchBytes - used < n) {
		DWORD error = Send();
		if (error != 0)
			return error;
	}
	if (cr)
		batch.bytes[used++] = '\r';
	if (units[0] < 0x80)
		batch.bytes[used++] = (char)units[0];
	else
		used += Utf16ToUtf8(units, count, batch.bytes + used, 4, NULL);
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

// Copies the units at text that go in as they are, one byte each, as many
// as the batch has room for: ASCII, but for a name not the C0 controls nor
// DEL, and no CR or LF where line ends are rewritten. Returns how many.
static size_t PutAscii(const WCHAR *text, size_t length, bool name)
{
	size_t count = length < BatchBytes - used ? length : BatchBytes - used;
	// One unsigned comparison: below low wraps to above the range.
	const unsigned low = name || kind == OutputUtf8CrLf ? 0x20 : 0;
	const unsigned span = (name ? 0x7Fu : 0x80u) - low;
	char *dest = batch.bytes + used;
	size_t n = 0;

	while (n < count && (unsigned)(text[n] - low) < span) {
		dest[n] = (char)text[n];
		n++;
	}
	used += n;
	if (n != 0)
		afterCr = false;
	return n;
}

// The units of one text; for a name, whatever would break its cell goes in
// as '?'. The text is only read: it may be the platform's.
static DWORD PutText(const WCHAR *text, size_t length, bool name)
{
	DWORD error = 0;
	size_t i = 0;

	if (!kindKnown) {
		error = StreamOutputKind(&kind);
		if (error != 0)
			return error;
		kindKnown = true;
	}
	while (i < length && error == 0) {
		if (kind != OutputWide && pendingHigh == 0) {
			i += PutAscii(text + i, length - i, name);
			if (i == length)
				break;
		}
		error = PutUnit(name && BreaksACell(text[i]) ? (WCHAR)'?' : text[i]);
		i++;
	}
	return error;
}

// The ASCII a text starts with, nearly all of a table, put in before any
// setup: none until the kind of output is known, nor while a high
// surrogate waits. Returns how many units.
static size_t PutAsciiFirst(const WCHAR *text, size_t length, bool name)
{
	if (!kindKnown || kind == OutputWide || pendingHigh != 0)
		return 0;
	return PutAscii(text, length, name);
}

DWORD OutputText(const WCHAR *text, size_t length)
{
	size_t n = PutAsciiFirst(text, length, false);

	// An empty text still learns the kind of output, and its failure.
	return n != 0 && n == length ? 0 : PutText(text + n, length - n, false);
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
	// With no high surrogate waiting, none to end first.
	size_t n = PutAsciiFirst(name, length, true);
	DWORD error;

	if (n != 0 && n == length)
		return 0;
	name += n;
	length -= n;
	error = OutputEndText();
	if (error == 0)
		error = PutText(name, length, true);
	return error != 0 ? error : OutputEndText();
}

DWORD OutputFlush(void)
{
	return Send();
}
