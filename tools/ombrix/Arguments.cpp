#include "Arguments.h"

#include "Commands.h"

Arguments::Arguments(int argc, char** argv, const std::set<std::string>& valued, const std::set<std::string>& flags)
{
    for (int i = 0; i < argc; i++) {
        const std::string word = argv[i];
        if (word.size() < 2 || word[0] != '-') {
            m_Positional.push_back(word);
        } else if (valued.count(word)) {
            if (i + 1 == argc)
                throw UsageError(word + " needs a value");
            m_Values.emplace_back(word, argv[++i]);
        } else if (flags.count(word)) {
            m_Flags.insert(word);
        } else {
            throw UsageError("unknown option " + word);
        }
    }
}

std::optional<std::string> Arguments::Value(const std::string& option) const
{
    std::optional<std::string> last;  // a repeated option: the last one counts
    for (const auto& [name, value] : m_Values)
        if (name == option)
            last = value;
    return last;
}

unsigned long long Number(const std::string& text, const char* what, unsigned long long min, unsigned long long max)
{
    unsigned long long value = 0;
    bool valid = !text.empty() && text.size() <= 19;
    for (char c : text) {
        valid = valid && c >= '0' && c <= '9';
        value = value * 10 + (unsigned long long)(c - '0');
    }
    if (!valid || value < min || value > max)
        throw UsageError(std::string(what) + " must be a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not '" + text + "'");
    return value;
}
