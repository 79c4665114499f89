#include "pe.h"
#include "text.h"

#include <utility>

// Little-endian value of size (at most 4) bytes at offset; past the end of
// the bytes it is 0 and bad is set, so that a walk can read on and check
// once.
static uint32_t Get(const std::string &bytes, size_t at, int size, bool &bad)
{
	if (at > bytes.size() || bytes.size() - at < (size_t)size) {
		bad = true;
		return 0;
	}
	uint32_t v = 0;
	for (int i = size - 1; i >= 0; i--)
		v = v << 8 | (uint8_t)bytes[at + i];
	return v;
}

namespace {

struct Section {
	uint32_t rva, fileOffset, rawSize;
};

struct File {
	std::string bytes;
	std::vector<Section> sections;
	bool bad = false;
};

} // namespace

static uint32_t Get(File &f, size_t at, int size)
{
	return Get(f.bytes, at, size, f.bad);
}

static uint64_t Get64(File &f, size_t at)
{
	return Get(f, at, 4) | (uint64_t)Get(f, at + 4, 4) << 32;
}

// File offset of an address relative to the image base, through the
// section table; only what the file holds, not the zero fill after it.
static size_t At(File &f, uint32_t rva)
{
	for (const Section &s : f.sections) {
		if (rva >= s.rva && rva - s.rva < s.rawSize) {
			size_t offset = (size_t)s.fileOffset + (rva - s.rva);
			if (offset < f.bytes.size())
				return offset;
		}
	}
	f.bad = true;
	return f.bytes.size();
}

static std::string Text(File &f, uint32_t rva)
{
	size_t offset = At(f, rva);
	size_t end = f.bytes.find('\0', offset);
	if (f.bad || end == std::string::npos) {
		f.bad = true;
		return std::string();
	}
	return f.bytes.substr(offset, end - offset);
}

static void ReadImports(File &f, uint32_t rva, bool wide, PeImage &image)
{
	const uint64_t ordinalFlag = wide ? 1ull << 63 : 1ull << 31;
	for (size_t d = At(f, rva); !f.bad; d += 20) {
		uint32_t lookup = Get(f, d, 4), name = Get(f, d + 12, 4), thunks = Get(f, d + 16, 4);
		if (lookup == 0 && name == 0 && thunks == 0)
			break;
		PeImport import;
		import.dll = Text(f, name);
		for (size_t t = At(f, lookup != 0 ? lookup : thunks); !f.bad; t += wide ? 8 : 4) {
			uint64_t entry = wide ? Get64(f, t) : Get(f, t, 4);
			if (entry == 0)
				break;
			if (entry & ordinalFlag)
				import.byOrdinal.push_back((uint32_t)(entry & 0xFFFF));
			else
				import.byName.push_back(Text(f, (uint32_t)entry + 2));
		}
		image.imports.push_back(import);
	}
}

// The entries with numeric names of the resource directory at dir: name
// and target.
static std::vector<std::pair<uint32_t, uint32_t>> Entries(File &f, size_t dir)
{
	std::vector<std::pair<uint32_t, uint32_t>> entries;
	uint32_t count = Get(f, dir + 12, 2) + Get(f, dir + 14, 2);
	for (uint32_t i = 0; i < count && !f.bad; i++) {
		size_t e = dir + 16 + 8 * i;
		uint32_t name = Get(f, e, 4), target = Get(f, e + 4, 4);
		if (!(name & 0x80000000))
			entries.push_back({name, target});
	}
	return entries;
}

// The three levels of the resource tree: type, id, language. Targets with
// the high bit set are subdirectories, the others data entries.
static void ReadResources(File &f, uint32_t rva, PeImage &image)
{
	size_t root = At(f, rva);
	for (auto [type, types] : Entries(f, root)) {
		if (!(types & 0x80000000))
			continue;
		for (auto [id, ids] : Entries(f, root + (types & 0x7FFFFFFF))) {
			if (!(ids & 0x80000000))
				continue;
			for (auto [language, entry] : Entries(f, root + (ids & 0x7FFFFFFF))) {
				if (entry & 0x80000000)
					continue;
				uint32_t dataRva = Get(f, root + entry, 4), size = Get(f, root + entry + 4, 4);
				size_t offset = At(f, dataRva);
				if (f.bad || f.bytes.size() - offset < size) {
					f.bad = true;
					return;
				}
				image.resources.push_back({type, id, f.bytes.substr(offset, size)});
			}
		}
	}
}

PeImage ReadPeImage(const std::string &path)
{
	PeImage image;
	File f;
	f.bytes = ReadFile(path);
	size_t pe = Get(f, 0x3C, 4);
	if (Get(f, 0, 2) != 0x5A4D || Get(f, pe, 4) != 0x00004550) {
		image.error = f.bytes.empty() ? "cannot read " + path : "no MZ header or PE signature";
		return image;
	}
	size_t coff = pe + 4;
	image.machine = Get(f, coff, 2);
	uint32_t sectionCount = Get(f, coff + 2, 2);
	uint32_t optionalSize = Get(f, coff + 16, 2);
	image.characteristics = Get(f, coff + 18, 2);
	size_t opt = coff + 20;
	image.magic = Get(f, opt, 2);
	bool wide = image.magic == 0x20B;
	if (!wide && image.magic != 0x10B) {
		image.error = "unknown optional header";
		return image;
	}
	image.subsystem = Get(f, opt + 68, 2);
	image.dllCharacteristics = Get(f, opt + 70, 2);
	size_t dirs = opt + (wide ? 112 : 96);
	uint32_t dirCount = Get(f, opt + (wide ? 108 : 92), 4);
	size_t table = opt + optionalSize;
	for (uint32_t i = 0; i < sectionCount; i++) {
		size_t s = table + 40 * i;
		f.sections.push_back({Get(f, s + 12, 4), Get(f, s + 20, 4), Get(f, s + 16, 4)});
	}
	if (dirCount > 1 && Get(f, dirs + 8, 4) != 0)
		ReadImports(f, Get(f, dirs + 8, 4), wide, image);
	if (dirCount > 2 && Get(f, dirs + 16, 4) != 0)
		ReadResources(f, Get(f, dirs + 16, 4), image);
	if (f.bad)
		image.error = "malformed headers, imports or resources";
	return image;
}

VersionInfo ParseVersionInfo(const std::string &data)
{
	VersionInfo info;
	bool bad = false;
	// The fixed information starts with its signature.
	size_t fixed = data.find("\xBD\x04\xEF\xFE");
	info.fileVersionMS = Get(data, fixed + 8, 4, bad);
	info.fileVersionLS = Get(data, fixed + 12, 4, bad);
	info.productVersionMS = Get(data, fixed + 16, 4, bad);
	info.productVersionLS = Get(data, fixed + 20, 4, bad);
	info.valid = fixed != std::string::npos && !bad;
	for (size_t at = 0; at + 1 < data.size(); at += 2) {
		uint32_t unit = Get(data, at, 2, bad);
		if (unit != 0 || info.text.empty() || info.text.back() != '\0')
			info.text += unit < 0x80 ? (char)unit : '?';
	}
	return info;
}
