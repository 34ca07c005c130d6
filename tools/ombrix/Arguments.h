// A command's words: positional arguments, options taking one value, and flags.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

class Arguments {
public:
    // Throws UsageError for an unknown option or an option without its value.
    Arguments(int argc, char** argv, const std::set<std::string>& valued, const std::set<std::string>& flags = {});

    const std::vector<std::string>& Positional() const { return m_Positional; }
    std::optional<std::string> Value(const std::string& option) const;
    bool Flag(const std::string& option) const { return m_Flags.count(option) != 0; }

private:
    std::vector<std::string> m_Positional;
    std::vector<std::pair<std::string, std::string>> m_Values;
    std::set<std::string> m_Flags;
};

// text as a whole decimal number in [min, max]; UsageError naming what otherwise.
unsigned long long Number(const std::string& text, const char* what, unsigned long long min, unsigned long long max);
