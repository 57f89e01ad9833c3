#include "platform/names.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "game.h"

constexpr uint32_t bad_code = 0xFFFFFFFF;

// Decodes one UTF-8 character of at most `n` bytes; its length (at least 1).
// Overlong forms, surrogates, values past U+10FFFF and cut sequences give
// bad_code for the first byte alone, so decoding resumes at the next one.
static size_t decode_utf8(const unsigned char* s, size_t n, uint32_t& code)
{
    const unsigned char b = s[0];
    code = bad_code;
    if (b < 0x80) {
        code = b;
        return 1;
    }
    size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 1;
    }
    if (n < len || s[1] < low || s[1] > high) return 1;
    uint32_t value = b & (0x7F >> len);
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 1;
        value = (value << 6) | (s[i] & 0x3F);
    }
    code = value;
    return len;
}

// Control characters, line and paragraph separators, the invisible marks that
// reorder text or hide in it, and noncharacters are not printable.
static bool printable(uint32_t c)
{
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) return false;
    if (c == 0x2028 || c == 0x2029 || c == 0xFEFF) return false;
    if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return false;
    if ((c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE) return false;
    return c <= 0x10FFFF;
}

static bool space(uint32_t c)
{
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

void clean_span(const char* raw, size_t length, char* name, size_t size)
{
    if (size == 0) return;
    const auto* s = reinterpret_cast<const unsigned char*>(raw);
    size_t used = 0, kept = 0;  // bytes written, bytes up to the last non-space
    int characters = 0;
    size_t at = 0;
    while (at < length && characters < score_name_max) {
        uint32_t code;
        const size_t len = decode_utf8(s + at, length - at, code);
        if (code != bad_code && printable(code) && !(characters == 0 && space(code))) {
            if (used + len >= size) break;  // no room for it and the terminator
            memcpy(name + used, s + at, len);
            used += len;
            ++characters;
            if (!space(code)) kept = used;
        }
        at += len;
    }
    if (kept == 0) {
        constexpr char fallback[] = "player";
        kept = std::min(sizeof fallback - 1, size - 1);
        memcpy(name, fallback, kept);
    }
    name[kept] = '\0';
}

void clean_name(const char* raw, char* name, size_t size)
{
    clean_span(raw != nullptr ? raw : "", raw != nullptr ? strlen(raw) : 0, name, size);
}

bool name_is_clean(const char* field, size_t length)
{
    if (length == 0 || length > score_name_max * 4) return false;
    if (memchr(field, '\0', length) != nullptr) return false;
    char cleaned[score_name_max * 4 + 1];
    clean_span(field, length, cleaned, sizeof cleaned);
    return strlen(cleaned) == length && memcmp(cleaned, field, length) == 0;
}
