#include "app/Settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// atoi's rule without its undefined behaviour on overflow: only zero versus
// non-zero matters here, so the digits are never accumulated.
bool toFlag(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    if (*text == '+' || *text == '-')
        ++text;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (*text != '0')
            return true;
    return false;
}

// atoi's digits, clamped instead of overflowing; below zero is zero.
std::size_t toCount(const char* text)
{
    const long long value = std::strtoll(text, nullptr, 10);
    return value < 0 ? 0 : static_cast<std::size_t>(value);
}

double toNumber(const char* text)
{
    return std::strtod(text, nullptr);  // atof's rule, defined on overflow
}

// atoi's rule, held to long's range instead of overflowing.
long toInteger(const char* text)
{
    return std::strtol(text, nullptr, 10);
}

}  // namespace

Settings scanCommandLine(int argc, const char* const* argv)
{
    Settings settings;
    for (int i = argc - 1; i >= 0; --i) {
        const char* word = argv[i];
        const char* colon = std::strchr(word, ':');
        if (colon == nullptr) {
            if (std::strcmp(word, "--help") == 0 || std::strcmp(word, "-h") == 0)
                settings.help = true;
            else if (i > 0)
                settings.bareWords.insert(settings.bareWords.begin(), word);
            continue;
        }
        const std::string_view key(word, static_cast<std::size_t>(colon - word));
        const char* value = colon + 1;
        if (key == "file")
            settings.file = value;
        else if (key == "kd")
            settings.kd = toFlag(value);
        else if (key == "dots")
            settings.dots = toFlag(value);
        else if (key == "mesh")
            settings.mesh = toFlag(value);
        else if (key == "tri")
            settings.tri = toFlag(value);
        else if (key == "zoom")
            settings.zoom = toNumber(value);
        else if (key == "transx")
            settings.transx = toNumber(value);
        else if (key == "transy")
            settings.transy = toNumber(value);
        else if (key == "out")
            settings.out = value;
        else if (key == "view")
            settings.view = toFlag(value);
        else if (key == "shot")
            settings.shot = value;
        else if (key == "fit")
            settings.fit = toFlag(value);
        else if (key == "angle")
            settings.angle = toNumber(value);
        else if (key == "report")
            settings.report = toFlag(value);
        else if (key == "clean")
            settings.clean = toFlag(value);
        else if (key == "holes")
            settings.holes = toCount(value);
        else if (key == "normals")
            settings.normals = value;
        else if (key == "neighbours")
            settings.neighbours = toInteger(value);
        else if (key == "progress")
            settings.progress = toFlag(value) ? 1 : 0;
        else if (key == "tiles")
            settings.tiles = toCount(value);
        else if (key == "threads")
            settings.threads = toCount(value);
        else if (key == "frames")
            settings.frames = toCount(value);
        else
            settings.unknownKeys.insert(settings.unknownKeys.begin(), std::string(key));
    }
    return settings;
}

const std::vector<std::string>& knownKeys()
{
    static const std::vector<std::string> keys = {
        "file", "kd",    "dots",   "mesh",  "tri",   "transx",  "transy",     "zoom",     "out",    "view",  "shot",
        "fit",  "angle", "report", "clean", "holes", "normals", "neighbours", "progress", "frames", "tiles", "threads"};
    return keys;
}

namespace {

// Letters added, dropped, changed or two neighbours swapped, ignoring case.
std::size_t editDistance(std::string a, std::string b)
{
    auto lower = [](std::string& text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    lower(a);
    lower(b);
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::string closestKey(const std::string& unknown)
{
    // A long word is no typing slip of a short key: measure only the start.
    const std::string word = unknown.substr(0, 32);
    std::string best;
    std::size_t bestDistance = 3;
    for (const std::string& key : knownKeys()) {
        const std::size_t distance = editDistance(word, key);
        // strict <, so ties go to the key listed first
        if (distance < bestDistance && distance < std::max(word.size(), key.size())) {
            best = key;
            bestDistance = distance;
        }
    }
    if (!best.empty() || word.size() < 3)
        return best;
    for (const std::string& key : knownKeys())
        if (word.rfind(key, 0) == 0 || key.rfind(word, 0) == 0)
            return key;
    return best;
}
