// Both conversions over arbitrary input, against the reference: invalid
// input gives U+FFFD, never a crash; output never exceeds the capacity and
// stops at a whole character; valid text round-trips.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "input.h"
#include "reference.h"
#include "utf.h"

static void Fail(const char *what)
{
	fprintf(stderr, "utf_fuzz: %s\n", what);
	abort();
}

static const size_t guardCount = 8;

// A capacity by choice: none, a few, or room for all (need) and some over.
static size_t PickCapacity(uint8_t choice, size_t need)
{
	switch (choice & 3) {
	case 0:
		return 0;
	case 1:
		return choice >> 2;
	case 2:
		return need > (size_t)(choice >> 4) ? need - (choice >> 4) : 0;
	default:
		return need + (choice >> 2);
	}
}

static void CheckDecode(const unsigned char *bytes, size_t length, uint8_t choice)
{
	std::u16string want;
	size_t wantConsumed = 0;

	const std::u16string whole = ReferenceUtf16(ReferenceDecode(bytes, length));
	const size_t capacity = PickCapacity(choice, whole.size());
	for (size_t at = 0; at < length;) {
		ReferenceChar c = ReferenceDecodeOne(bytes + at, length - at);
		if (want.size() + ReferenceUnits(c.value) > capacity)
			break;
		want += ReferenceUtf16(std::u32string(1, (char32_t)c.value));
		at += c.bytes;
		wantConsumed = at;
	}

	std::vector<WCHAR> buffer(capacity + guardCount, 0xA5A5);
	size_t consumed = (size_t)-1;
	size_t n = Utf8ToUtf16((const char *)bytes, length, buffer.data(), capacity, &consumed);
	if (n != want.size() || std::u16string(buffer.data(), n) != want)
		Fail("decode: units differ from the reference");
	if (consumed != wantConsumed)
		Fail("decode: consumed differs from the reference");
	for (size_t i = capacity; i < buffer.size(); i++)
		if (buffer[i] != 0xA5A5)
			Fail("decode: wrote past the capacity");
	// The length alone, with no consumed count asked for.
	if (Utf8ToUtf16((const char *)bytes, length, buffer.data(), capacity, NULL) != n)
		Fail("decode: differs without a consumed count");
}

static void CheckEncode(const std::u16string &units, uint8_t choice)
{
	std::string want;
	size_t wantConsumed = 0;

	const std::u32string chars = ReferenceScalars(units);
	const size_t capacity = PickCapacity(choice, ReferenceUtf8(chars).size());
	for (char32_t c : chars) {
		if (want.size() + ReferenceBytes(c) > capacity)
			break;
		want += ReferenceUtf8(std::u32string(1, c));
		wantConsumed += ReferenceUnits(c);
	}

	std::vector<char> buffer(capacity + guardCount, (char)0xA5);
	size_t consumed = (size_t)-1;
	size_t n = Utf16ToUtf8((const WCHAR *)units.data(), units.size(), buffer.data(),
	                       capacity, &consumed);
	if (n != want.size() || std::string(buffer.data(), n) != want)
		Fail("encode: bytes differ from the reference");
	if (consumed != wantConsumed)
		Fail("encode: consumed differs from the reference");
	for (size_t i = capacity; i < buffer.size(); i++)
		if (buffer[i] != (char)0xA5)
			Fail("encode: wrote past the capacity");
}

// Valid text both ways: UTF-16 made valid goes out and comes back the same,
// and so does UTF-8 made valid.
static void CheckRoundTrip(const unsigned char *bytes, size_t length, const std::u16string &units)
{
	const std::u16string valid16 = ReferenceUtf16(ReferenceScalars(units));
	const std::string valid8 = ReferenceUtf8(ReferenceDecode(bytes, length));
	std::vector<char> narrow(valid16.size() * 3 + valid8.size() + 1);
	std::vector<WCHAR> wide(valid16.size() + valid8.size() + 1);
	size_t n, m;

	n = Utf16ToUtf8((const WCHAR *)valid16.data(), valid16.size(), narrow.data(),
	                narrow.size(), NULL);
	if (std::string(narrow.data(), n) != ReferenceUtf8(ReferenceScalars(valid16)))
		Fail("round trip: valid UTF-16 encodes differently");
	m = Utf8ToUtf16(narrow.data(), n, wide.data(), wide.size(), NULL);
	if (std::u16string(wide.data(), m) != valid16)
		Fail("round trip: valid UTF-16 does not come back");

	m = Utf8ToUtf16(valid8.data(), valid8.size(), wide.data(), wide.size(), NULL);
	n = Utf16ToUtf8(wide.data(), m, narrow.data(), narrow.size(), NULL);
	if (std::string(narrow.data(), n) != valid8)
		Fail("round trip: valid UTF-8 does not come back");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	FuzzInput in = {data, size};
	uint8_t decodeChoice = TakeByte(&in);
	uint8_t encodeChoice = TakeByte(&in);

	const unsigned char *bytes = in.data;
	const size_t length = in.size;
	std::u16string units;
	for (size_t i = 0; i + 1 < length; i += 2)
		units += (char16_t)(bytes[i] | (bytes[i + 1] << 8));

	CheckDecode(bytes, length, decodeChoice);
	CheckEncode(units, encodeChoice);
	CheckRoundTrip(bytes, length, units);
	return 0;
}
