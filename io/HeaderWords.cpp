#include "io/HeaderWords.h"

#include <limits>

std::vector<std::string_view> splitWords(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i > start)
            out.push_back(text.substr(start, i - start));
    }
    return out;
}

bool readCount(std::string_view text, std::uint64_t& count)
{
    if (text.empty())
        return false;
    count = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (count > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return false;
        count = count * 10 + digit;
    }
    return true;
}
