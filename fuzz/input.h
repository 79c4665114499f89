// Taking typed values off a fuzz input, front to back. Past its end every
// value is 0, so that any input, even an empty one, means something.
#ifndef FUZZ_INPUT_H
#define FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>

struct FuzzInput {
	const uint8_t *data;
	size_t size;
};

static inline uint8_t TakeByte(FuzzInput *in)
{
	if (in->size == 0)
		return 0;
	in->size--;
	return *in->data++;
}

static inline uint16_t TakeUnit(FuzzInput *in)
{
	uint16_t low = TakeByte(in);
	return (uint16_t)(low | (uint16_t)(TakeByte(in) << 8));
}

static inline uint32_t TakeWord(FuzzInput *in)
{
	uint32_t low = TakeUnit(in);
	return low | ((uint32_t)TakeUnit(in) << 16);
}

// Up to count units, two bytes each, or one byte each with narrow set (so
// that ASCII text such as a format is easy to reach).
static inline std::u16string TakeText(FuzzInput *in, size_t count, bool narrow)
{
	std::u16string text;

	while (text.size() < count && in->size > 0)
		text += (char16_t)(narrow ? TakeByte(in) : TakeUnit(in));
	return text;
}

#endif
