#pragma once

#include <cstdio>
#include <memory>
#include <string>

using InputFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Opens a point file for reading in binary mode; null when it cannot be
// opened or is a directory or a device (/dev/zero would never end). Pipes
// are fine: their writer ends them. A FIFO nobody writes to reads as empty
// instead of holding the program in open() for ever. Where why is given, a
// failure leaves its cause there ("No such file or directory", ...).
InputFile openInputFile(const std::string& fileName, std::string* why = nullptr);
