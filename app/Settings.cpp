#include "app/Settings.h"

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
        if (colon == nullptr)
            continue;
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
    }
    return settings;
}
