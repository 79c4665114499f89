// Plain reference versions of what the fuzz targets check, written apart
// from the code under test and for clarity over speed: the formatter's
// text, UTF-8 decoding and UTF-16 encoding.
#ifndef FUZZ_REFERENCE_H
#define FUZZ_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <string>

// One argument of a format: 's' (text, or a null pointer) or 'd'.
struct ReferenceArgument {
	char kind;
	bool isNull;
	std::u16string text;
	int32_t number;
};

// What a format with its arguments gives, unbounded: "%s" the text ("(null)"
// for a null pointer), "%d" signed decimal, "%%" one sign, and a sign before
// anything else, or at the end, stands for itself.
std::u16string ReferenceFormat(const std::u16string &format,
                               const ReferenceArgument *arguments);

// The conversions the format asks for, in order, 's' or 'd', at most max
// of them. Returns the length of the format's part that asks for no more.
size_t ReferenceConversions(const std::u16string &format, char *kinds, size_t max,
                            size_t *count);

// One decoded character and the bytes it took, by the table of
// well-formed byte sequences: a byte that starts none stands alone as
// U+FFFD.
struct ReferenceChar {
	uint32_t value;
	size_t bytes;
};

ReferenceChar ReferenceDecodeOne(const unsigned char *s, size_t n);

// Every character of src.
std::u32string ReferenceDecode(const unsigned char *s, size_t n);

// UTF-16 to characters: an unpaired surrogate is U+FFFD.
std::u32string ReferenceScalars(const std::u16string &text);

std::u16string ReferenceUtf16(const std::u32string &chars);
std::string ReferenceUtf8(const std::u32string &chars);

// Units one character takes in UTF-16, bytes in UTF-8.
size_t ReferenceUnits(uint32_t value);
size_t ReferenceBytes(uint32_t value);

#endif
