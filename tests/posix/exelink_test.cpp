// The image name from an exe link's text, on crafted buffers. Every buffer
// is a vector of exactly its length, so that a read past it shows under
// the address sanitizer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "posix/exelink.h"

namespace {

// A heap copy of exactly the bytes of s, never at a null pointer.
std::vector<char> Copy(const std::string &s)
{
	std::vector<char> bytes(s.begin(), s.end());
	bytes.reserve(1);
	return bytes;
}

// The name in a link, with the mark dropped when dropMark says the file
// is gone.
std::string Image(const std::string &link, bool dropMark = true)
{
	std::vector<char> e = Copy(link);
	const char *name = nullptr;
	size_t length = 0;
	if (!ImageNameFromLink(e.data(), e.size(), dropMark, &name, &length))
		return "<none>";
	EXPECT_GE(name, e.data());
	EXPECT_LE(name + length, e.data() + e.size());
	return std::string(name, length);
}

TEST(ImageName, LastComponentAndTheDeletedMark)
{
	EXPECT_EQ(Image("/usr/bin/bash"), "bash");
	EXPECT_EQ(Image("/tmp/x/fixture (deleted)"), "fixture");
	EXPECT_EQ(Image("/tmp/x/fixture (deleted)", false), "fixture (deleted)");
	EXPECT_EQ(Image("/memfd:run (deleted)"), "memfd:run");
	EXPECT_EQ(Image("/odd dir/name with (parens)"), "name with (parens)");
	EXPECT_EQ(Image("/a/b (deleted) (deleted)"), "b (deleted)");
	EXPECT_EQ(Image("plain"), "plain");
	EXPECT_EQ(Image("/"), "<none>");
	EXPECT_EQ(Image("/a/"), "<none>");
	EXPECT_EQ(Image("/a/ (deleted)"), "<none>");
	EXPECT_EQ(Image("/a/ (deleted)", false), " (deleted)");
	EXPECT_EQ(Image(""), "<none>");
	const char *name;
	size_t length;
	EXPECT_FALSE(ImageNameFromLink(nullptr, 0, true, &name, &length));

	const std::string marks[] = {"/x (deleted)", " (deleted)", "deleted)"};
	// The mark alone is a name, not a mark.
	for (const std::string &m : marks)
		EXPECT_EQ(HasDeletedMark(Copy(m).data(), m.size()), m[0] == '/') << m;
	EXPECT_FALSE(HasDeletedMark(nullptr, 12));
}

} // namespace
