// What a terminal sends for one key.
#pragma once

#include <cstddef>

// Whether the bytes end inside a key: after an ESC, in the sequence it
// begins, or in a UTF-8 character.
bool ends_inside_key(const unsigned char *bytes, std::size_t size);
