// Reading what the tests check in a Windows executable: machine, subsystem,
// imports and resources, straight from the file's PE headers.
#ifndef TEST_PE_IMAGE_H
#define TEST_PE_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

struct PeImport {
	std::string dll;            // as the import table names it
	std::vector<std::string> byName;
	std::vector<uint32_t> byOrdinal;
};

struct PeResource {
	uint32_t type = 0;          // numeric type and id; named entries are left out
	uint32_t id = 0;
	uint32_t language = 0;
	std::string data;
};

struct PeImage {
	std::string error;          // empty when the file was read
	uint16_t machine = 0;
	uint16_t magic = 0;         // 0x10B for PE32, 0x20B for PE32+
	uint16_t subsystem = 0;
	uint16_t characteristics = 0;
	std::vector<PeImport> imports;
	std::vector<PeResource> resources;
};

PeImage ReadPeImage(const std::string &path);

#endif
