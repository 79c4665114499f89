// The image name from an exe link's text and the cleaning of names, fed
// arbitrary bytes, each checked against a plain reading of the same rules.
// The bytes end exactly where the input does, so any read past them is
// caught.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// The name as one table cell, in place: each hidden character as '?', each
// surrogate without its partner as U+FFFD, unit for unit. The units are
// the input's bytes in pairs, up to the first 0.
static void CheckClean(const uint8_t *bytes, size_t length)
{
	std::u16string text, want;

	for (size_t i = 0; i + 1 < length && (bytes[i] != 0 || bytes[i + 1] != 0); i += 2)
		text += (char16_t)(bytes[i] | bytes[i + 1] << 8);
	for (char32_t c : ReferenceScalars(text))
		want += ReferenceUtf16(std::u32string(1, Hidden(c) ? U'?' : c));
	std::vector<WCHAR> name(text.begin(), text.end());
	name.push_back(0);
	if (CleanName(name.data()) != name.data() || std::u16string(name.data(), text.size()) != want ||
	    name[text.size()] != 0)
		Fail("clean: differs from the reference");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char *bytes = (const char *)data;

	// A null buffer is refused whatever length comes with it.
	const char *name;
	size_t nameLength;
	if (ImageNameFromLink(NULL, size, true, &name, &nameLength) || HasDeletedMark(NULL, size))
		Fail("a null buffer was parsed");

	CheckLink(bytes, size, true);
	CheckLink(bytes, size, false);
	CheckClean(data, size);
	return 0;
}
