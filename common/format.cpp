#include "format.h"

#include "output.h"

// Where the formatted units go: a buffer of room units and a terminator,
// or the output. For a buffer the formatting stops once the text is known
// to be longer than room; for the output, at the first failed write. To
// the output, ASCII goes straight into the batch's free bytes while it has
// them (output.h); the rest takes the general path.
struct FormatTarget {
	WCHAR *dest;
	size_t room;
	size_t total;
	bool output;
	bool names; // to the output, each "%s" argument a name for a cell
	DWORD error;
	char *fast; // the batch's free bytes
	size_t fastRoom; // 0 while none may be written straight in
	size_t fastUsed;
};

// Nothing more is needed: a bounded result is cut whatever follows, and
// after a failed write no other is tried, whose success would hide it.
static bool Done(const FormatTarget *target)
{
	return target->error != 0 || (!target->output && target->total > target->room);
}

// Copies units of text straight into the batch while each goes in as one
// byte, up to limit units: 0x01..0x7F, for a name 0x20..0x7E, so that a
// terminator stops it too. Returns how many.
static size_t CopyAscii(FormatTarget *target, const WCHAR *text, size_t limit, bool name)
{
	// One unsigned comparison: below low wraps to above the range.
	const unsigned low = name ? 0x20 : 0x01;
	const unsigned span = (name ? 0x7Fu : 0x80u) - low;
	char *dest = target->fast + target->fastUsed;
	const WCHAR *at = text, *end = text + limit;

	while (at != end && (unsigned)(*at - low) < span)
		*dest++ = (char)*at++;
	target->fastUsed += (size_t)(at - text);
	return (size_t)(at - text);
}

// The plain units of the format up to the next '%' straight into the
// batch, while they are ASCII and it has room. Returns where they stop.
static const WCHAR *CopyPlain(FormatTarget *target, const WCHAR *p)
{
	char *start = target->fast + target->fastUsed;
	char *dest = start, *end = target->fast + target->fastRoom;

	while (dest != end && (unsigned)(*p - 1) < 0x7Fu && *p != '%')
		*dest++ = (char)*p++;
	target->fastUsed += (size_t)(dest - start);
	return p;
}

static size_t FastLeft(const FormatTarget *target)
{
	return target->fastRoom - target->fastUsed;
}

static void TakeRoom(FormatTarget *target)
{
	target->fast = OutputRoom(&target->fastRoom);
	target->fastUsed = 0;
}

// The general path, for what the batch's free bytes do not take: what was
// written straight in goes first, and the room is asked for again after.
static void PutGeneral(FormatTarget *target, const WCHAR *units, size_t count, bool name)
{
	if (target->fastUsed != 0)
		OutputAdvance(target->fastUsed);
	target->error = name ? OutputName(units, count) : OutputText(units, count);
	TakeRoom(target);
}

static void Put(FormatTarget *target, const WCHAR *units, size_t count)
{
	if (target->output) {
		size_t n = CopyAscii(target, units, count < FastLeft(target) ? count : FastLeft(target), false);
		// An empty text with no room still learns the kind of output.
		if (n != count || target->fastRoom == 0)
			PutGeneral(target, units + n, count - n, false);
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
	if (target->fastRoom != 0) {
		// No surrogate waits: an empty rest has nothing to end.
		text += CopyAscii(target, text, FastLeft(target), target->names);
		if (*text == 0)
			return;
	}
	while (text[length] != 0)
		length++;
	if (target->names)
		PutGeneral(target, text, length, true);
	else
		Put(target, text, length);
}

enum { DecimalUnits = 11, AfterDecimalUnits = 8 };

// The number's digits straight into the batch, which has room for the
// longest; the text after it is the next piece.
static const WCHAR *PutDecimalFast(FormatTarget *target, bool negative, unsigned magnitude,
                                   const WCHAR *after)
{
	char *dest = target->fast + target->fastUsed;
	size_t digits = 1;

	for (unsigned rest = magnitude / 10; rest != 0; rest /= 10)
		digits++;
	if (negative)
		*dest++ = '-';
	target->fastUsed += digits + (negative ? 1 : 0);
	do {
		dest[--digits] = (char)('0' + magnitude % 10);
		magnitude /= 10;
	} while (digits != 0);
	return after;
}

// The number, and with it the plain units that follow it in the format up
// to the next '%' as far as they fit: a row's number and its tab are one
// piece, handed on in one call. Returns where the format goes on.
static const WCHAR *PutDecimal(FormatTarget *target, int value, const WCHAR *after)
{
	WCHAR piece[DecimalUnits + AfterDecimalUnits];
	size_t at = DecimalUnits, end = DecimalUnits;
	// Negated as unsigned, so that INT_MIN has a magnitude too.
	unsigned magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;

	if (FastLeft(target) >= DecimalUnits)
		return PutDecimalFast(target, value < 0, magnitude, after);
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
	FormatTarget target = {dest, capacity - 1, 0, false, false, 0, NULL, 0, 0};
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

// To the output: as FormatInto, a plain run's ASCII first straight into
// the batch and the rest of the run through the general path.
static void FormatOutput(FormatTarget *target, const WCHAR *format, va_list args)
{
	static const WCHAR percent = '%';
	const WCHAR *p = format;

	while (*p != 0 && target->error == 0) {
		if (*p != '%') {
			const WCHAR *run = CopyPlain(target, p);
			p = run;
			while (*p != 0 && *p != '%')
				p++;
			if (p != run)
				PutGeneral(target, run, (size_t)(p - run), false);
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
		default:
			// "%%" is one sign; any other stands for itself, and
			// what follows it is read on the next turn.
			Put(target, &percent, 1);
			p += p[1] == '%' ? 2 : 1;
			break;
		}
	}
}

DWORD FormatOutputV(const WCHAR *format, va_list args, bool names)
{
	FormatTarget target = {NULL, 0, 0, true, names, 0, NULL, 0, 0};

	TakeRoom(&target);
	if (format != NULL)
		FormatOutput(&target, format, args);
	if (target.fastUsed != 0)
		OutputAdvance(target.fastUsed);
	// With room still given, no surrogate waits to be ended.
	if (target.error == 0 && target.fastRoom == 0)
		target.error = OutputEndText();
	return target.error;
}
