#pragma once

#include <cstdio>
#include <string>

// Writes a file so that it appears whole or not at all: the bytes go to a
// temporary beside the target, which commit() renames over it. A
// replacement destroyed without a successful commit removes its temporary,
// and the target is left as it was. While it lives, its temporary is also
// known to removeTemporaryFiles, for a process that must end at once.
class FileReplacement {
public:
    explicit FileReplacement(const std::string& target);
    ~FileReplacement();

    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // The temporary to write to; null when it could not be created.
    std::FILE* file() const { return file_; }

    // Closes the temporary and puts it in place. False, with the target
    // untouched, when any write, the close or the rename failed.
    bool commit();

private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
};

// Removes the temporary of every FileReplacement alive, leaving their
// targets as they are. Makes only async-signal-safe calls, for a signal
// handler that ends the process straight after.
void removeTemporaryFiles();
