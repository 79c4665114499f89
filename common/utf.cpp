#include "utf.h"

// Length of the valid sequence at s (at most n bytes), or 0. Rejects
// overlong forms, surrogates and values above U+10FFFF, as UTF-8 must.
static size_t SequenceLength(const unsigned char *s, size_t n, unsigned long *value)
{
	unsigned char c = s[0];
	size_t need;
	unsigned long v, min;

	if (c < 0x80) {
		*value = c;
		return 1;
	}
	if (c >= 0xC2 && c <= 0xDF) {
		need = 2; v = c & 0x1F; min = 0x80;
	} else if (c >= 0xE0 && c <= 0xEF) {
		need = 3; v = c & 0x0F; min = 0x800;
	} else if (c >= 0xF0 && c <= 0xF4) {
		need = 4; v = c & 0x07; min = 0x10000;
	} else {
		return 0;
	}
	if (n < need)
		return 0;
	for (size_t i = 1; i < need; i++) {
		if ((s[i] & 0xC0) != 0x80)
			return 0;
		v = (v << 6) | (s[i] & 0x3F);
	}
	if (v < min || v > 0x10FFFF || IsSurrogate(v))
		return 0;
	*value = v;
	return need;
}

size_t Utf8ToUtf16(const char *src, size_t length, WCHAR *dest,
                   size_t capacity, size_t *consumed)
{
	const unsigned char *s = (const unsigned char *)src;
	size_t in = 0, out = 0;

	while (in < length) {
		unsigned long v;
		size_t n = SequenceLength(s + in, length - in, &v);
		if (n == 0) {
			v = replacementCharacter;
			n = 1;
		}
		if (v >= 0x10000) {
			if (capacity - out < 2)
				break;
			v -= 0x10000;
			dest[out++] = (WCHAR)(0xD800 | (v >> 10));
			dest[out++] = (WCHAR)(0xDC00 | (v & 0x3FF));
		} else {
			if (capacity - out < 1)
				break;
			dest[out++] = (WCHAR)v;
		}
		in += n;
	}
	if (consumed)
		*consumed = in;
	return out;
}

size_t Utf16Next(const WCHAR *src, size_t length, unsigned long *value)
{
	unsigned long v = src[0];

	if (IsHighSurrogate(v) && length > 1 && IsLowSurrogate(src[1])) {
		*value = 0x10000 + ((v - 0xD800) << 10) + (src[1] - 0xDC00);
		return 2;
	}
	*value = IsSurrogate(v) ? replacementCharacter : v;
	return 1;
}

size_t Utf16ToUtf8(const WCHAR *src, size_t length, char *dest,
                   size_t capacity, size_t *consumed)
{
	// The first byte's mark for a sequence of 1 to 4 bytes.
	static const unsigned char lead[] = {0, 0x00, 0xC0, 0xE0, 0xF0};
	size_t in = 0, out = 0;

	while (in < length) {
		unsigned long v;
		size_t used = Utf16Next(src + in, length - in, &v);
		size_t need = v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : 4;

		if (capacity - out < need)
			break;
		// Six bits a byte from the last, the rest after the first's mark.
		for (size_t k = need - 1; k > 0; k--, v >>= 6)
			dest[out + k] = (char)(0x80 | (v & 0x3F));
		dest[out] = (char)(lead[need] | v);
		out += need;
		in += used;
	}
	if (consumed)
		*consumed = in;
	return out;
}
