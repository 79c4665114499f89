// Reading what the tests check in a Windows executable, straight from its
// PE headers: machine, subsystem, security flags, imports and resources, and the contents
// of a version resource.
#ifndef TEST_PE_H
#define TEST_PE_H

#include <cstdint>
#include <string>
#include <vector>

struct PeImport {
	std::string dll;            // as the import table names it
	std::vector<std::string> byName;
	std::vector<uint32_t> byOrdinal;
};

struct PeResource {
	uint32_t type = 0;          // numeric type and id, one per language; named entries are left out
	uint32_t id = 0;
	std::string data;
};

struct PeImage {
	std::string error;          // empty when the file was read
	uint16_t machine = 0;       // 0x8664 x86-64, 0x14C x86
	uint16_t magic = 0;         // 0x10B for PE32, 0x20B for PE32+
	uint16_t subsystem = 0;     // 3: console
	uint16_t characteristics = 0;
	uint16_t dllCharacteristics = 0; // 0x20 high-entropy ASLR, 0x40 ASLR, 0x100 DEP, 0x8000 terminal-server aware
	std::vector<PeImport> imports;
	std::vector<PeResource> resources; // in the order of the resource tree
};

PeImage ReadPeImage(const std::string &path);

struct VersionInfo {
	bool valid = false;         // the fixed information was found
	uint32_t fileVersionMS = 0, fileVersionLS = 0;
	uint32_t productVersionMS = 0, productVersionLS = 0;
	// The whole resource as text, each unit past ASCII as '?', runs of
	// zero units as one: a text value reads "\x01KEY\0VALUE\0" (the block's
	// text type, its key, the value).
	std::string text;
};

// The data of a version resource (type 16).
VersionInfo ParseVersionInfo(const std::string &data);

#endif
