// Just enough of the Portable Executable format to check what a Windows
// program carries: its machine, subsystem and resources.
#ifndef TEST_PE_H
#define TEST_PE_H

#include <cstdint>
#include <string>
#include <vector>

struct PeImage {
	bool valid = false;
	uint16_t machine = 0;   // 0x8664 x86-64, 0x14c x86
	uint16_t subsystem = 0; // 3: console
	std::string bytes;      // the whole file
	uint32_t resourceRva = 0, resourceSize = 0;
};

PeImage ReadPe(const std::string &path);

// The data of resource type/id (first language), or false.
bool FindResource(const PeImage &pe, uint32_t type, uint32_t id, std::string &data);

struct VersionInfo {
	bool valid = false;
	uint32_t fileVersionMS = 0, fileVersionLS = 0;
	uint32_t productVersionMS = 0, productVersionLS = 0;
	std::vector<std::string> strings; // StringFileInfo values as "key=value", ASCII
};

VersionInfo ParseVersionInfo(const std::string &data);

#endif
