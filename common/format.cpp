// The one formatter behind ConsolePrintf and FormatBounded. It knows "%s"
// (wide text), "%d" (32-bit signed decimal) and "%%"; whatever else follows
// a percent sign is copied as it stands, the sign included.
#include <cstdarg>
#include <cstdio>

#include "console.h"
#include "output.h"

// Where the formatted units go: a buffer of room units. For the console a
// full buffer is handed to the output and refilled, never between the two
// halves of a pair; for a bounded destination the units beyond room are
// only counted.
struct FormatTarget {
	WCHAR *dest;
	size_t room;
	size_t used;
	size_t total;
	bool console;
};

// A bounded destination that has already run out of room needs no more
// text: the result is cut whatever follows.
static bool Overflowed(const FormatTarget *target)
{
	return !target->console && target->total > target->room;
}

// Hands the gathered units to the output, all but a high surrogate at the
// end: that one waits at the start of the buffer for its pair.
static void HandOn(FormatTarget *target)
{
	size_t count = target->used;
	WCHAR last = target->dest[count - 1];

	if (last >= 0xD800 && last <= 0xDBFF)
		count--;
	ConsoleWrite(target->dest, count);
	target->used -= count;
	if (target->used != 0)
		target->dest[0] = last;
}

static void Put(FormatTarget *target, WCHAR unit)
{
	if (target->used == target->room) {
		if (!target->console) {
			target->total++;
			return;
		}
		HandOn(target);
	}
	target->dest[target->used++] = unit;
	target->total++;
}

static void PutText(FormatTarget *target, const WCHAR *text)
{
	if (text == NULL)
		text = WIDE("(null)");
	for (; *text != 0 && !Overflowed(target); text++)
		Put(target, *text);
}

static void PutDecimal(FormatTarget *target, int value)
{
	WCHAR digits[10];
	int count = 0;
	// Negated as unsigned, so that INT_MIN has a magnitude too.
	unsigned magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;

	do {
		digits[count++] = (WCHAR)('0' + magnitude % 10);
		magnitude /= 10;
	} while (magnitude != 0);
	if (value < 0)
		Put(target, '-');
	while (count > 0)
		Put(target, digits[--count]);
}

static void FormatInto(FormatTarget *target, const WCHAR *format, va_list args)
{
	if (format == NULL)
		return;
	for (const WCHAR *p = format; *p != 0 && !Overflowed(target); p++) {
		if (*p != '%') {
			Put(target, *p);
			continue;
		}
		switch (p[1]) {
		case 's':
			PutText(target, va_arg(args, const WCHAR *));
			p++;
			break;
		case 'd':
			PutDecimal(target, va_arg(args, int));
			p++;
			break;
		case '%':
			Put(target, '%');
			p++;
			break;
		default:
			// Not a conversion: the sign stands for itself and what
			// follows it is copied on the next turn.
			Put(target, '%');
			break;
		}
	}
}

void ConsolePrintf(const WCHAR *format, ...)
{
	WCHAR chunk[CONSOLE_CHUNK];
	FormatTarget target = {chunk, CONSOLE_CHUNK, 0, 0, true};
	va_list args;

	va_start(args, format);
	FormatInto(&target, format, args);
	va_end(args);
	ConsoleWrite(chunk, target.used);
}

void ConsoleFlush(void)
{
	ConsoleFlushOutput();
}

void ConsoleWaitForKey(void)
{
	ConsoleFlushOutput();
	// Unbuffered, getchar takes one byte and leaves the rest of a shared
	// input to whoever reads it next.
	setvbuf(stdin, NULL, _IONBF, 0);
	getchar();
}

HRESULT FormatBoundedV(WCHAR *dest, size_t capacity, size_t *length,
                       const WCHAR *format, va_list args)
{
	size_t max;

	if (length != NULL)
		*length = 0;
	if (capacity == 0 || capacity > 0x7FFFFFFF) {
		if (capacity != 0)
			dest[0] = 0;
		return E_INVALIDARG;
	}
	max = capacity - 1;
	FormatTarget target = {dest, max, 0, 0, false};
	FormatInto(&target, format, args);
	if (target.total > max) {
		dest[max] = 0;
		if (length != NULL)
			*length = max;
		return STRSAFE_E_INSUFFICIENT_BUFFER;
	}
	dest[target.total] = 0;
	if (length != NULL)
		*length = target.total;
	return S_OK;
}

HRESULT FormatBounded(WCHAR *dest, size_t capacity, const WCHAR *format, ...)
{
	HRESULT status;
	va_list args;

	va_start(args, format);
	status = FormatBoundedV(dest, capacity, NULL, format, args);
	va_end(args);
	return status;
}
