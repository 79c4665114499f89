#include "format.h"

#include "output.h"

// Where the formatted units go: a buffer of room units and a terminator,
// or the output. For a buffer the formatting stops once the text is known
// to be longer than room; for the output, at the first failed write.
struct FormatTarget {
	WCHAR *dest;
	size_t room;
	size_t total;
	bool output;
	bool names; // to the output, each "%s" argument a name for a cell
	DWORD error;
};

// Nothing more is needed: a bounded result is cut whatever follows, and
// after a failed write no other is tried, whose success would hide it.
static bool Done(const FormatTarget *target)
{
	return target->error != 0 || (!target->output && target->total > target->room);
}

static void Put(FormatTarget *target, const WCHAR *units, size_t count)
{
	if (target->output) {
		target->error = OutputText(units, count);
		return;
	}
	// The unit past room, the one that tells a cut, lands where the
	// terminator goes.
	for (size_t i = 0; i < count && target->total <= target->room; i++)
		target->dest[target->total++] = units[i];
}

static void PutText(FormatTarget *target, const WCHAR *text)
{
	size_t length = 0;

	if (text == NULL)
		text = WIDE("(null)");
	while (text[length] != 0)
		length++;
	if (target->names)
		target->error = OutputName(text, length);
	else
		Put(target, text, length);
}

enum { DecimalUnits = 11, AfterDecimalUnits = 8 };

// The number, and with it the plain units that follow it in the format up
// to the next '%' as far as they fit: a row's number and its tab are one
// piece, handed on in one call. Returns where the format goes on.
static const WCHAR *PutDecimal(FormatTarget *target, int value, const WCHAR *after)
{
	WCHAR piece[DecimalUnits + AfterDecimalUnits];
	size_t at = DecimalUnits, end = DecimalUnits;
	// Negated as unsigned, so that INT_MIN has a magnitude too.
	unsigned magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;

	do {
		piece[--at] = (WCHAR)('0' + magnitude % 10);
		magnitude /= 10;
	} while (magnitude != 0);
	if (value < 0)
		piece[--at] = '-';
	while (*after != 0 && *after != '%' && end < DecimalUnits + AfterDecimalUnits)
		piece[end++] = *after++;
	Put(target, piece + at, end - at);
	return after;
}

// A run of plain units is handed on whole; a conversion takes its argument.
static void FormatInto(FormatTarget *target, const WCHAR *format, va_list args)
{
	static const WCHAR percent = '%';
	const WCHAR *p = format;

	if (format == NULL)
		return;
	while (*p != 0 && !Done(target)) {
		const WCHAR *run = p;

		while (*p != 0 && *p != '%')
			p++;
		if (p != run) {
			Put(target, run, (size_t)(p - run));
			continue;
		}
		switch (p[1]) {
		case 's':
			PutText(target, va_arg(args, const WCHAR *));
			p += 2;
			break;
		case 'd':
			p = PutDecimal(target, va_arg(args, int), p + 2);
			break;
		case '%':
			Put(target, &percent, 1);
			p += 2;
			break;
		default:
			// Not a conversion: the sign stands for itself and what
			// follows it is read on the next turn.
			Put(target, &percent, 1);
			p++;
			break;
		}
	}
}

HRESULT FormatBounded(WCHAR *dest, size_t capacity, const WCHAR *format, ...)
{
	FormatTarget target = {dest, capacity - 1, 0, false, false, 0};
	va_list args;

	if (capacity == 0 || capacity > 0x7FFFFFFF) {
		if (capacity != 0)
			dest[0] = 0;
		return E_INVALIDARG;
	}
	va_start(args, format);
	FormatInto(&target, format, args);
	va_end(args);
	dest[target.total > target.room ? target.room : target.total] = 0;
	return target.total > target.room ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

DWORD FormatOutputV(const WCHAR *format, va_list args, bool names)
{
	FormatTarget target = {NULL, 0, 0, true, names, 0};

	FormatInto(&target, format, args);
	if (target.error == 0)
		target.error = OutputEndText();
	return target.error;
}
