// The image name from an exe link's text and the cleaning of names, fed
// arbitrary bytes, each checked against a plain reading of the same rules. The bytes end exactly where
// the input does, so any read past them is caught.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "input.h"
#include "names.h"
#include "posix/exelink.h"
#include "reference.h"

static void Fail(const char *what)
{
	fprintf(stderr, "names_fuzz: %s\n", what);
	abort();
}

// The last path component, without a trailing " (deleted)" (with
// something before it) only when dropMark asks.
static void CheckLink(const char *bytes, size_t length, bool dropMark)
{
	static const std::string deleted = " (deleted)";
	std::string text(bytes, length);
	const char *name = NULL;
	size_t nameLength = 0;
	bool named = ImageNameFromLink(bytes, length, dropMark, &name, &nameLength);
	bool marked = text.size() > deleted.size() &&
	              text.compare(text.size() - deleted.size(), deleted.size(), deleted) == 0;

	if (HasDeletedMark(bytes, length) != marked)
		Fail("link: the mark differs");
	if (dropMark && marked)
		text.resize(text.size() - deleted.size());
	size_t slash = text.rfind('/');
	size_t start = slash == std::string::npos ? 0 : slash + 1;
	bool wanted = start < text.size();

	if (named != wanted)
		Fail(named ? "link: named what has no name" : "link: no name where there is one");
	if (named && (name != bytes + start || nameLength != text.size() - start))
		Fail("link: name differs");
}

// The characters that could break a row or reorder it on the screen: the
// controls, the line and paragraph separators and the bidirectional ones.
static bool Hidden(char32_t c)
{
	return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
	       (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The name as one table cell: the characters, each hidden one as '?',
// whole characters only, and always terminated.
static void CheckSanitize(const char *bytes, size_t length, size_t capacity)
{
	const uint16_t guard = 0xA5A5;
	std::vector<WCHAR> buffer(capacity + 8, guard);
	std::u16string want;

	for (char32_t c : ReferenceDecode((const unsigned char *)bytes, length)) {
		if (Hidden(c))
			c = U'?';
		if (capacity == 0 || want.size() + ReferenceUnits(c) > capacity - 1)
			break;
		want += ReferenceUtf16(std::u32string(1, c));
	}
	size_t n = SanitizeName(bytes, length, buffer.data(), capacity);
	if (n + 1 > SanitizedCapacity(length))
		Fail("sanitize: longer than promised");
	if (capacity == 0) {
		if (n != 0 || buffer[0] != guard)
			Fail("sanitize: wrote to an empty buffer");
	} else if (n != want.size() || std::u16string(buffer.data(), n) != want || buffer[n] != 0) {
		Fail("sanitize: differs from the reference");
	}
	for (size_t i = capacity; i < buffer.size(); i++)
		if (buffer[i] != guard)
			Fail("sanitize: wrote past the capacity");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzInput in = {data, size};
	uint8_t capacityChoice = TakeByte(&in);
	const char *bytes = (const char *)in.data;

	// A null buffer is refused whatever length comes with it.
	const char *name;
	size_t nameLength;
	if (ImageNameFromLink(NULL, in.size, true, &name, &nameLength) ||
	    HasDeletedMark(NULL, in.size))
		Fail("a null buffer was parsed");

	size_t capacity = capacityChoice == 0xFF ? in.size + 1 : capacityChoice;
	CheckLink(bytes, in.size, true);
	CheckLink(bytes, in.size, false);
	CheckSanitize(bytes, in.size, capacity);
	return 0;
}
