// The player's name as the high-score table holds it: printable UTF-8 only,
// at most score_name_max characters, never empty.
#pragma once

#include <cstddef>

// The name of whoever plays, cleaned. Each platform has its own source of it
// (platform/desktop/player_name.cpp, platform/web/player_name.cpp).
void player_name(char* name, size_t size);

// Printable characters of valid UTF-8 only (no control characters, tabs, line
// ends or invalid bytes), at most score_name_max characters, spaces at either
// end trimmed; "player" when nothing is left.
void clean_name(const char* raw, char* name, size_t size);

// clean_name over `length` bytes, which need not be zero-terminated.
void clean_span(const char* raw, size_t length, char* name, size_t size);

// A name as clean_name would leave it: what the table's file may hold.
bool name_is_clean(const char* field, size_t length);
