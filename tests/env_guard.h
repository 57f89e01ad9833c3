// Environment variables set or cleared for one test, and put back as they were
// when it ends.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class EnvGuard {
public:
    explicit EnvGuard(std::initializer_list<const char*> names)
    {
        for (const char* n : names) {
            const char* v = getenv(n);
            saved.push_back({n, v != nullptr ? std::optional<std::string>(v) : std::nullopt});
        }
    }
    ~EnvGuard() { restore(); }
    // Puts them back now, for a test that must act on it (tzset, say).
    void restore()
    {
        for (const auto& [n, v] : saved) set(n.c_str(), v ? v->c_str() : nullptr);
    }
    // Sets one, or clears it with nullptr.
    static void set(const char* name, const char* value)
    {
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};
