#include "reference.h"

std::u16string ReferenceFormat(const std::u16string &format,
                               const ReferenceArgument *arguments)
{
	std::u16string out;
	size_t next = 0;

	for (size_t i = 0; i < format.size(); i++) {
		char16_t c = format[i];
		char16_t after = i + 1 < format.size() ? format[i + 1] : 0;

		if (c != u'%') {
			out += c;
		} else if (after == u's') {
			const ReferenceArgument &a = arguments[next++];
			out += a.isNull ? std::u16string(u"(null)") : a.text;
			i++;
		} else if (after == u'd') {
			std::string digits = std::to_string(arguments[next++].number);
			for (char d : digits)
				out += (char16_t)d;
			i++;
		} else if (after == u'%') {
			out += u'%';
			i++;
		} else {
			out += u'%';
		}
	}
	return out;
}

size_t ReferenceConversions(const std::u16string &format, char *kinds, size_t max,
                            size_t *count)
{
	size_t n = 0;

	for (size_t i = 0; i + 1 < format.size(); i++) {
		if (format[i] != u'%')
			continue;
		if (format[i + 1] == u'%') {
			i++;
		} else if (format[i + 1] == u's' || format[i + 1] == u'd') {
			if (n == max) {
				*count = n;
				return i;
			}
			kinds[n++] = (char)format[i + 1];
			i++;
		}
	}
	*count = n;
	return format.size();
}

// The second byte's range by the first byte, from the table of well-formed
// UTF-8 byte sequences; every later byte is 80..BF.
ReferenceChar ReferenceDecodeOne(const unsigned char *s, size_t n)
{
	const ReferenceChar bad = {0xFFFD, 1};
	unsigned char b = s[0];
	unsigned char low = 0x80, high = 0xBF;
	size_t need;
	uint32_t value;

	if (b <= 0x7F)
		return {b, 1};
	if (b >= 0xC2 && b <= 0xDF) {
		need = 2;
		value = b & 0x1F;
	} else if (b >= 0xE0 && b <= 0xEF) {
		need = 3;
		value = b & 0x0F;
		if (b == 0xE0)
			low = 0xA0;
		if (b == 0xED)
			high = 0x9F;
	} else if (b >= 0xF0 && b <= 0xF4) {
		need = 4;
		value = b & 0x07;
		if (b == 0xF0)
			low = 0x90;
		if (b == 0xF4)
			high = 0x8F;
	} else {
		return bad;
	}
	if (n < need || s[1] < low || s[1] > high)
		return bad;
	value = (value << 6) | (s[1] & 0x3F);
	for (size_t i = 2; i < need; i++) {
		if (s[i] < 0x80 || s[i] > 0xBF)
			return bad;
		value = (value << 6) | (s[i] & 0x3F);
	}
	return {value, need};
}

std::u32string ReferenceDecode(const unsigned char *s, size_t n)
{
	std::u32string out;

	for (size_t at = 0; at < n;) {
		ReferenceChar c = ReferenceDecodeOne(s + at, n - at);
		out += (char32_t)c.value;
		at += c.bytes;
	}
	return out;
}

std::u32string ReferenceScalars(const std::u16string &text)
{
	std::u32string out;

	for (size_t i = 0; i < text.size(); i++) {
		uint32_t u = text[i];
		if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() &&
		    text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
			out += (char32_t)(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
			i++;
		} else if (u >= 0xD800 && u <= 0xDFFF) {
			out += (char32_t)0xFFFD;
		} else {
			out += (char32_t)u;
		}
	}
	return out;
}

std::u16string ReferenceUtf16(const std::u32string &chars)
{
	std::u16string out;

	for (char32_t c : chars) {
		if (c >= 0x10000) {
			out += (char16_t)(0xD800 + ((c - 0x10000) >> 10));
			out += (char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF));
		} else {
			out += (char16_t)c;
		}
	}
	return out;
}

std::string ReferenceUtf8(const std::u32string &chars)
{
	std::string out;

	for (char32_t c : chars) {
		if (c < 0x80) {
			out += (char)c;
		} else if (c < 0x800) {
			out += (char)(0xC0 + (c >> 6));
			out += (char)(0x80 + (c & 0x3F));
		} else if (c < 0x10000) {
			out += (char)(0xE0 + (c >> 12));
			out += (char)(0x80 + ((c >> 6) & 0x3F));
			out += (char)(0x80 + (c & 0x3F));
		} else {
			out += (char)(0xF0 + (c >> 18));
			out += (char)(0x80 + ((c >> 12) & 0x3F));
			out += (char)(0x80 + ((c >> 6) & 0x3F));
			out += (char)(0x80 + (c & 0x3F));
		}
	}
	return out;
}

size_t ReferenceUnits(uint32_t value)
{
	return value >= 0x10000 ? 2 : 1;
}

size_t ReferenceBytes(uint32_t value)
{
	return value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
}
