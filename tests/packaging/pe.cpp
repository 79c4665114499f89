#include "pe.h"

#include <fstream>
#include <sstream>

static bool Read16(const std::string &b, size_t at, uint16_t &v)
{
	if (at + 2 > b.size() || at + 2 < at)
		return false;
	v = (uint16_t)((unsigned char)b[at] | (unsigned char)b[at + 1] << 8);
	return true;
}

static bool Read32(const std::string &b, size_t at, uint32_t &v)
{
	uint16_t lo, hi;
	if (!Read16(b, at, lo) || !Read16(b, at + 2, hi))
		return false;
	v = lo | (uint32_t)hi << 16;
	return true;
}

// File offset of an address inside the image, through the section table.
static bool RvaToOffset(const PeImage &pe, uint32_t rva, size_t &offset)
{
	uint32_t peOffset;
	uint16_t sections, optionalSize;
	if (!Read32(pe.bytes, 0x3c, peOffset) || !Read16(pe.bytes, peOffset + 6, sections) ||
	    !Read16(pe.bytes, peOffset + 20, optionalSize))
		return false;
	size_t table = peOffset + 24 + optionalSize;
	for (uint16_t i = 0; i < sections; i++) {
		size_t s = table + 40u * i;
		uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
		if (!Read32(pe.bytes, s + 8, virtualSize) || !Read32(pe.bytes, s + 12, virtualAddress) ||
		    !Read32(pe.bytes, s + 16, rawSize) || !Read32(pe.bytes, s + 20, rawPointer))
			return false;
		if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
			offset = rawPointer + (rva - virtualAddress);
			return true;
		}
	}
	return false;
}

PeImage ReadPe(const std::string &path)
{
	PeImage pe;
	std::ifstream in(path, std::ios::binary);
	std::ostringstream all;
	all << in.rdbuf();
	pe.bytes = all.str();
	uint32_t peOffset, signature;
	uint16_t magic;
	if (pe.bytes.compare(0, 2, "MZ") != 0 || !Read32(pe.bytes, 0x3c, peOffset) ||
	    !Read32(pe.bytes, peOffset, signature) || signature != 0x4550 ||
	    !Read16(pe.bytes, peOffset + 4, pe.machine) || !Read16(pe.bytes, peOffset + 24, magic))
		return pe;
	size_t optional = peOffset + 24;
	size_t directories;
	if (magic == 0x10b)
		directories = optional + 96;
	else if (magic == 0x20b)
		directories = optional + 112;
	else
		return pe;
	if (!Read16(pe.bytes, optional + 68, pe.subsystem) ||
	    !Read32(pe.bytes, directories + 2 * 8, pe.resourceRva) ||
	    !Read32(pe.bytes, directories + 2 * 8 + 4, pe.resourceSize))
		return pe;
	pe.valid = true;
	return pe;
}

// The entry with the given id in the resource directory at dirOffset
// (relative to the resource section); its offset field, or false.
static bool DirectoryEntry(const PeImage &pe, size_t base, uint32_t dirOffset, uint32_t id, bool anyId,
                           uint32_t &target)
{
	uint16_t named, ids;
	if (!Read16(pe.bytes, base + dirOffset + 12, named) || !Read16(pe.bytes, base + dirOffset + 14, ids))
		return false;
	for (uint32_t i = 0; i < (uint32_t)named + ids; i++) {
		uint32_t name, offset;
		size_t e = base + dirOffset + 16 + 8 * i;
		if (!Read32(pe.bytes, e, name) || !Read32(pe.bytes, e + 4, offset))
			return false;
		if (name & 0x80000000)
			continue;
		if (anyId || name == id) {
			target = offset;
			return true;
		}
	}
	return false;
}

bool FindResource(const PeImage &pe, uint32_t type, uint32_t id, std::string &data)
{
	size_t base;
	if (!pe.valid || pe.resourceRva == 0 || !RvaToOffset(pe, pe.resourceRva, base))
		return false;
	uint32_t names, languages, entry;
	if (!DirectoryEntry(pe, base, 0, type, false, names) || !(names & 0x80000000) ||
	    !DirectoryEntry(pe, base, names & 0x7fffffff, id, false, languages) || !(languages & 0x80000000) ||
	    !DirectoryEntry(pe, base, languages & 0x7fffffff, 0, true, entry) || (entry & 0x80000000))
		return false;
	uint32_t rva, size;
	size_t offset;
	if (!Read32(pe.bytes, base + entry, rva) || !Read32(pe.bytes, base + entry + 4, size) ||
	    !RvaToOffset(pe, rva, offset) || offset + size > pe.bytes.size())
		return false;
	data = pe.bytes.substr(offset, size);
	return true;
}

static size_t Align4(size_t n)
{
	return (n + 3) & ~(size_t)3;
}

// Reads UTF-16 text up to its terminator; non-ASCII units become '?'.
static bool ReadText(const std::string &b, size_t at, size_t end, std::string &text, size_t &next)
{
	text.clear();
	for (;;) {
		uint16_t unit;
		if (at + 2 > end || !Read16(b, at, unit))
			return false;
		at += 2;
		if (unit == 0)
			break;
		text += unit < 0x80 ? (char)unit : '?';
	}
	next = at;
	return true;
}

// One block of a version resource: wLength, wValueLength, wType, szKey,
// padding, Value, padding, children. Text values (wType 1) are collected
// by key; the fixed information is the value of the root block.
static bool WalkBlock(const std::string &b, size_t at, size_t end, bool root, VersionInfo &info)
{
	uint16_t length, valueLength, type;
	if (!Read16(b, at, length) || !Read16(b, at + 2, valueLength) || !Read16(b, at + 4, type) ||
	    length < 6 || at + length > end)
		return false;
	size_t blockEnd = at + length;
	std::string key;
	size_t value;
	if (!ReadText(b, at + 6, blockEnd, key, value))
		return false;
	value = Align4(value);
	size_t valueBytes = type == 1 ? 2u * valueLength : valueLength;
	if (value + valueBytes > blockEnd)
		return false;
	if (root) {
		uint32_t signature;
		if (key != "VS_VERSION_INFO" || valueBytes < 52 || !Read32(b, value, signature) ||
		    signature != 0xFEEF04BD)
			return false;
		Read32(b, value + 8, info.fileVersionMS);
		Read32(b, value + 12, info.fileVersionLS);
		Read32(b, value + 16, info.productVersionMS);
		Read32(b, value + 20, info.productVersionLS);
	} else if (type == 1 && valueLength > 0) {
		std::string text;
		size_t next;
		if (!ReadText(b, value, value + valueBytes, text, next))
			return false;
		info.strings.push_back(key + "=" + text);
	}
	for (size_t child = Align4(value + valueBytes); child < blockEnd;) {
		uint16_t childLength;
		if (!Read16(b, child, childLength) || childLength == 0 || !WalkBlock(b, child, blockEnd, false, info))
			return false;
		child = Align4(child + childLength);
	}
	return true;
}

VersionInfo ParseVersionInfo(const std::string &data)
{
	VersionInfo info;
	info.valid = WalkBlock(data, 0, data.size(), true, info);
	return info;
}
