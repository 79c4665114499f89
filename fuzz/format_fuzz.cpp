// The formatter through both its destinations. FormatBounded: any
// capacity, the programs' own formats and arbitrary ones with arbitrary
// arguments, against the reference text cut by the bounded rules; nothing
// written past the capacity, a terminator where the status promises one.
// ConsolePrintf: the same text, as UTF-8,
// byte for byte on standard output; ConsolePrintNames: the same with each
// argument cleaned for a cell.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "console.h"
#include "format.h"
#include "input.h"
#include "reference.h"

const ConsoleProgram consoleProgram = {WIDE("format_fuzz"), WIDE("Error: %s ")};

// Enough for every format the programs use; more only repeats the same.
static const size_t maxConversions = 6;
static const size_t guardUnits = 16;
static const char16_t guardValue = 0xA5A5;

static const char16_t *const programFormats[] = {
	u"%s failed with error %d: %s",
	u"%d\t",
	u"%s\t",
	u"%s\\%s\n",
	u"Error: %s ",
	u"Error: %s\n",
	u"Processes Found: %d\n\n",
	u"#\tPID\tHandles\tThreads\tProcess Name\tSID\tAccount\n\n",
	u"-\t",
	u"\n",
	u"\n\nDone! Please any key to exit()\n",
};
static const size_t programFormatCount = sizeof programFormats / sizeof programFormats[0];

// Standard output goes to a memory file, read back after every call.
static int outputFd = -1;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	outputFd = memfd_create("fuzz-stdout", MFD_CLOEXEC);
	if (outputFd < 0 || dup2(outputFd, STDOUT_FILENO) < 0) {
		perror("format_fuzz: standard output");
		abort();
	}
	return 0;
}

static std::string TakeOutput(void)
{
	struct stat st;
	std::string bytes;

	ConsoleFlush();
	if (fstat(outputFd, &st) != 0)
		abort();
	bytes.resize((size_t)st.st_size);
	if (pread(outputFd, &bytes[0], bytes.size(), 0) != (ssize_t)bytes.size())
		abort();
	if (ftruncate(outputFd, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0)
		abort();
	return bytes;
}

enum Destination { Bounded, Console, Names };

struct Call {
	Destination destination;
	WCHAR *dest;
	size_t capacity;
	const WCHAR *format;
	HRESULT status;
};

// Passes the arguments as the programs do, one typed value each.
template <typename... Values>
static void Dispatch(Call *call, const std::vector<ReferenceArgument> &arguments,
                     Values... values)
{
	if constexpr (sizeof...(Values) < maxConversions) {
		if (sizeof...(Values) < arguments.size()) {
			const ReferenceArgument &a = arguments[sizeof...(Values)];
			if (a.kind == 's')
				Dispatch(call, arguments, values...,
				         a.isNull ? (const WCHAR *)nullptr : a.text.c_str());
			else
				Dispatch(call, arguments, values..., (int)a.number);
			return;
		}
	}
	switch (call->destination) {
	case Bounded:
		call->status = FormatBounded(call->dest, call->capacity, call->format, values...);
		break;
	case Console:
		ConsolePrintf(call->format, values...);
		break;
	case Names:
		ConsolePrintNames(call->format, values...);
		break;
	}
}

// The characters that could break a row or reorder it on the screen: the
// controls, the line and paragraph separators and the bidirectional ones.
static bool Hidden(char32_t c)
{
	return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
	       (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// A name as one cell: each hidden character '?', each surrogate without its
// partner in the name U+FFFD.
static std::u16string Cell(const std::u16string &name)
{
	std::u32string chars = ReferenceScalars(name);

	for (char32_t &c : chars)
		c = Hidden(c) ? U'?' : c;
	return ReferenceUtf16(chars);
}

static std::u16string UpToTerminator(const std::u16string &text)
{
	return text.substr(0, text.find(u'\0'));
}

static void CheckGuard(const std::vector<char16_t> &buffer, size_t from)
{
	for (size_t i = from; i < buffer.size(); i++)
		if (buffer[i] != guardValue) {
			fprintf(stderr, "written past the capacity at unit %zu (from %zu)\n", i, from);
			abort();
		}
}

static void Fail(const char *what)
{
	fprintf(stderr, "format_fuzz: %s\n", what);
	abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzInput in = {data, size};
	uint8_t capacityChoice = TakeByte(&in);
	uint8_t formatChoice = TakeByte(&in);
	std::u16string format;
	char kinds[maxConversions];
	size_t count;

	if (formatChoice < 0x80)
		format = programFormats[formatChoice % programFormatCount];
	else
		format = UpToTerminator(TakeText(&in, TakeByte(&in), (formatChoice & 1) != 0));
	// The arguments the call passes must match what the format asks for.
	format.resize(ReferenceConversions(format, kinds, maxConversions, &count));

	std::vector<ReferenceArgument> arguments(count);
	for (size_t i = 0; i < count; i++) {
		arguments[i].kind = kinds[i];
		if (kinds[i] == 's') {
			uint8_t shape = TakeByte(&in);
			arguments[i].isNull = shape == 0xFF;
			arguments[i].text = UpToTerminator(TakeText(&in, shape & 0x7F, (shape & 0x80) != 0));
		} else {
			arguments[i].number = (int32_t)TakeWord(&in);
		}
	}
	const std::u16string expected = ReferenceFormat(format, arguments.data());

	Call call = {};
	call.format = (const WCHAR *)format.c_str();
	call.destination = Bounded;

	size_t bufferUnits;
	switch (capacityChoice & 7) {
	case 0:
		call.capacity = 0;
		bufferUnits = guardUnits;
		break;
	case 1:
		call.capacity = 0x80000000u;
		bufferUnits = guardUnits;
		break;
	case 2:
		call.capacity = SIZE_MAX;
		bufferUnits = guardUnits;
		break;
	case 3:
		// The largest capacity allowed: only the text and its terminator
		// may be written, so a buffer of that size stands for it.
		call.capacity = 0x7FFFFFFF;
		bufferUnits = expected.size() + 1 + guardUnits;
		break;
	case 4: {
		// Around the text's own length, where the statuses change.
		size_t less = TakeByte(&in) % 4;
		call.capacity = expected.size() + 1 > less ? expected.size() + 1 - less : 1;
		bufferUnits = call.capacity + guardUnits;
		break;
	}
	case 5:
		call.capacity = expected.size() + 1 + TakeByte(&in) % 4;
		bufferUnits = call.capacity + guardUnits;
		break;
	default:
		call.capacity = 1 + TakeUnit(&in) % 2048;
		bufferUnits = call.capacity + guardUnits;
		break;
	}
	std::vector<char16_t> buffer(bufferUnits, guardValue);
	call.dest = (WCHAR *)buffer.data();
	Dispatch(&call, arguments);

	if (call.capacity == 0 || call.capacity > 0x7FFFFFFF) {
		if (call.status != E_INVALIDARG)
			Fail("a refused capacity did not give E_INVALIDARG");
		if (call.capacity == 0) {
			CheckGuard(buffer, 0);
		} else {
			if (buffer[0] != 0)
				Fail("a refused capacity left no empty text");
			CheckGuard(buffer, 1);
		}
	} else {
		size_t max = call.capacity - 1;
		size_t kept = expected.size() <= max ? expected.size() : max;
		HRESULT wanted = expected.size() <= max ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;

		if (call.status != wanted)
			Fail("wrong status");
		if (std::u16string(buffer.data(), kept) != expected.substr(0, kept))
			Fail("text differs from the reference");
		if (buffer[kept] != 0)
			Fail("no terminator after the text");
		CheckGuard(buffer, bufferUnits - guardUnits);
	}

	// The console gets the same text, whole, as UTF-8.
	call.destination = Console;
	Dispatch(&call, arguments);
	if (TakeOutput() != ReferenceUtf8(ReferenceScalars(expected)))
		Fail("console bytes differ from the reference");

	std::vector<ReferenceArgument> cells = arguments;
	for (ReferenceArgument &a : cells)
		if (a.kind == 's' && !a.isNull)
			a.text = Cell(a.text);
	call.destination = Names;
	Dispatch(&call, arguments);
	if (TakeOutput() != ReferenceUtf8(ReferenceScalars(ReferenceFormat(format, cells.data()))))
		Fail("names differ from the reference");
	return 0;
}
