// Runs a fuzz target's LLVMFuzzerTestOneInput over saved inputs without
// libFuzzer, so that ctest replays the corpora with any compiler:
//   NAME_replay FILE|FOLDER...
// A folder stands for the files in it. A finding ends the run by abort()
// as under the fuzzer. Reports on standard error, as a target may take
// standard output for itself; no input at all is a failure.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Defined by the targets that need it, as libFuzzer expects.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

static bool ReplayFile(const std::string &path)
{
	FILE *f = std::fopen(path.c_str(), "rb");
	if (!f)
		return false;
	std::vector<uint8_t> bytes;
	uint8_t chunk[4096];
	size_t n;
	while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
		bytes.insert(bytes.end(), chunk, chunk + n);
	bool read = !std::ferror(f);
	std::fclose(f);
	if (read)
		LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
	return read;
}

// The regular files of a folder, or the path itself; false when unreadable.
static bool Inputs(const std::string &path, std::vector<std::string> *files)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		return false;
	if (!S_ISDIR(st.st_mode)) {
		files->push_back(path);
		return true;
	}
	DIR *dir = opendir(path.c_str());
	if (!dir)
		return false;
	for (struct dirent *e = readdir(dir); e; e = readdir(dir)) {
		std::string file = path + "/" + e->d_name;
		if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
			files->push_back(file);
	}
	closedir(dir);
	return true;
}

int main(int argc, char **argv)
{
	if (LLVMFuzzerInitialize)
		LLVMFuzzerInitialize(&argc, &argv);
	int replayed = 0;
	for (int i = 1; i < argc; i++) {
		std::vector<std::string> files;
		if (!Inputs(argv[i], &files)) {
			std::perror(argv[i]);
			return 1;
		}
		for (const std::string &file : files) {
			if (!ReplayFile(file)) {
				std::perror(file.c_str());
				return 1;
			}
			replayed++;
		}
	}
	std::fprintf(stderr, "replay: %d inputs\n", replayed);
	return replayed > 0 ? 0 : 1;
}
