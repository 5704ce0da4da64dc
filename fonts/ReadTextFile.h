#pragma once
#include <string>

// The whole file as text with every carriage return turned into a line feed; "" when the file
// does not exist.
std::string readTextFile(std::string const& path);
