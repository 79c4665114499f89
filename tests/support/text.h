// Files and text as the tests take them apart.
#ifndef TEST_TEXT_H
#define TEST_TEXT_H

#include <string>
#include <vector>

bool IsFile(const std::string &path);

// The whole file, byte for byte; empty when it cannot be read.
std::string ReadFile(const std::string &path);

// Copies the file from to the path to, executable by everyone.
bool CopyExecutable(const std::string &from, const std::string &to);

// The pieces of text between separators: n separators give n + 1 pieces.
std::vector<std::string> Split(const std::string &text, char separator);

// The lines of text without their line feeds; a last line feed ends the
// last line and starts none.
std::vector<std::string> Lines(const std::string &text);

#endif
