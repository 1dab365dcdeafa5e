// Cutting UTF-8 text by bytes without cutting a character.
#pragma once

#include <cstddef>
#include <string>

// The first bytes of a UTF-8 text, at most `size`, never ending inside a character.
std::string utf8Head(const std::string& text, size_t size);
// The last bytes of a UTF-8 text, at most `size`, never starting inside a character.
std::string utf8Tail(const std::string& text, size_t size);
