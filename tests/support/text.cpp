#include "text.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>

bool IsFile(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadFile(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool CopyExecutable(const std::string &from, const std::string &to)
{
	std::ifstream in(from, std::ios::binary);
	std::ofstream out(to, std::ios::binary);
	out << in.rdbuf();
	out.close();
	return in && out && chmod(to.c_str(), 0755) == 0;
}

std::vector<std::string> Split(const std::string &text, char separator)
{
	std::vector<std::string> parts;
	size_t start = 0;
	for (;;) {
		size_t end = text.find(separator, start);
		if (end == std::string::npos) {
			parts.push_back(text.substr(start));
			return parts;
		}
		parts.push_back(text.substr(start, end - start));
		start = end + 1;
	}
}

std::vector<std::string> Lines(const std::string &text)
{
	if (text.empty())
		return {};
	return Split(text.back() == '\n' ? text.substr(0, text.size() - 1) : text, '\n');
}
