// The image name from an exe link's text, fed arbitrary bytes, checked
// against a plain reading of the same rules.
// The bytes end exactly where the input does, so any read past them is
// caught.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
	return 0;
}
