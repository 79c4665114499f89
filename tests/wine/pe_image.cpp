#include "pe_image.h"

#include <fstream>
#include <iterator>

namespace {

struct Section {
	uint32_t rva, virtualSize, fileOffset, rawSize;
};

struct Reader {
	std::string bytes;
	std::vector<Section> sections;
	bool bad = false;

	uint32_t Get(size_t offset, int size)
	{
		uint32_t v = 0;
		if (offset + size > bytes.size()) {
			bad = true;
			return 0;
		}
		for (int i = size - 1; i >= 0; i--)
			v = (v << 8) | (uint8_t)bytes[offset + i];
		return v;
	}
	uint64_t Get64(size_t offset)
	{
		return Get(offset, 4) | (uint64_t)Get(offset + 4, 4) << 32;
	}
	// File offset of an address relative to the image base.
	size_t At(uint32_t rva)
	{
		for (const Section &s : sections) {
			uint32_t size = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
			if (rva >= s.rva && rva - s.rva < size && rva - s.rva < s.rawSize)
				return s.fileOffset + (rva - s.rva);
		}
		bad = true;
		return bytes.size();
	}
	std::string Text(uint32_t rva)
	{
		size_t offset = At(rva);
		size_t end = bytes.find('\0', offset);
		if (bad || end == std::string::npos) {
			bad = true;
			return std::string();
		}
		return bytes.substr(offset, end - offset);
	}
};

void ReadImports(Reader &r, uint32_t rva, bool wide, PeImage &image)
{
	for (size_t d = r.At(rva); !r.bad; d += 20) {
		uint32_t lookup = r.Get(d, 4), name = r.Get(d + 12, 4), thunks = r.Get(d + 16, 4);
		if (lookup == 0 && name == 0 && thunks == 0)
			break;
		PeImport import;
		import.dll = r.Text(name);
		size_t t = r.At(lookup != 0 ? lookup : thunks);
		for (; !r.bad; t += wide ? 8 : 4) {
			uint64_t entry = wide ? r.Get64(t) : r.Get(t, 4);
			uint64_t ordinalFlag = wide ? 1ull << 63 : 1ull << 31;
			if (entry == 0)
				break;
			if (entry & ordinalFlag)
				import.byOrdinal.push_back((uint32_t)(entry & 0xFFFF));
			else
				import.byName.push_back(r.Text((uint32_t)entry + 2));
		}
		image.imports.push_back(import);
	}
}

// Walks the three levels of the resource tree: type, id, language.
void ReadResources(Reader &r, uint32_t base, PeImage &image)
{
	size_t root = r.At(base);
	auto entries = [&](size_t dir, auto &&visit) {
		uint32_t count = r.Get(dir + 12, 2) + r.Get(dir + 14, 2);
		for (uint32_t i = 0; i < count && !r.bad; i++) {
			size_t e = dir + 16 + 8 * i;
			uint32_t name = r.Get(e, 4), target = r.Get(e + 4, 4);
			visit(name, target);
		}
	};
	entries(root, [&](uint32_t type, uint32_t typeTarget) {
		if ((type & 0x80000000) || !(typeTarget & 0x80000000))
			return;
		entries(root + (typeTarget & 0x7FFFFFFF), [&](uint32_t id, uint32_t idTarget) {
			if ((id & 0x80000000) || !(idTarget & 0x80000000))
				return;
			entries(root + (idTarget & 0x7FFFFFFF), [&](uint32_t lang, uint32_t dataEntry) {
				if (dataEntry & 0x80000000)
					return;
				size_t e = root + dataEntry;
				uint32_t dataRva = r.Get(e, 4), size = r.Get(e + 4, 4);
				size_t offset = r.At(dataRva);
				if (r.bad || offset + size > r.bytes.size()) {
					r.bad = true;
					return;
				}
				PeResource res;
				res.type = type;
				res.id = id;
				res.language = lang;
				res.data = r.bytes.substr(offset, size);
				image.resources.push_back(res);
			});
		});
	});
}

} // namespace

PeImage ReadPeImage(const std::string &path)
{
	PeImage image;
	Reader r;
	std::ifstream in(path, std::ios::binary);
	if (!in) {
		image.error = "cannot open " + path;
		return image;
	}
	r.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	if (r.Get(0, 2) != 0x5A4D) {
		image.error = "no MZ header";
		return image;
	}
	size_t pe = r.Get(0x3C, 4);
	if (r.Get(pe, 4) != 0x00004550) {
		image.error = "no PE signature";
		return image;
	}
	size_t coff = pe + 4;
	image.machine = r.Get(coff, 2);
	uint32_t sectionCount = r.Get(coff + 2, 2);
	uint32_t optionalSize = r.Get(coff + 16, 2);
	image.characteristics = r.Get(coff + 18, 2);
	size_t opt = coff + 20;
	image.magic = r.Get(opt, 2);
	bool wide = image.magic == 0x20B;
	if (!wide && image.magic != 0x10B) {
		image.error = "unknown optional header";
		return image;
	}
	image.subsystem = r.Get(opt + 68, 2);
	size_t dirs = opt + (wide ? 112 : 96);
	uint32_t dirCount = r.Get(opt + (wide ? 108 : 92), 4);
	size_t table = opt + optionalSize;
	for (uint32_t i = 0; i < sectionCount; i++) {
		size_t s = table + 40 * i;
		r.sections.push_back({r.Get(s + 12, 4), r.Get(s + 8, 4), r.Get(s + 20, 4),
		                      r.Get(s + 16, 4)});
	}
	if (dirCount > 1 && r.Get(dirs + 8, 4) != 0)
		ReadImports(r, r.Get(dirs + 8, 4), wide, image);
	if (dirCount > 2 && r.Get(dirs + 16, 4) != 0)
		ReadResources(r, r.Get(dirs + 16, 4), image);
	if (r.bad)
		image.error = "malformed headers, imports or resources";
	return image;
}
