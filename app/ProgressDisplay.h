#pragma once

#include "geometry/Progress.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>

// What the progress display writes, decided from a Progress and the time
// alone, so that it can be checked without a thread or a terminal. In
// place, one text after the open report line is rewritten with the
// terminal's cursor controls (which every terminal but a dumb one has);
// otherwise each new text is a line of its own. A stage shows
// nothing until it has run for kQuiet seconds, and the text changes at
// most once per kPeriod. Nothing here touches the heap: the display runs
// beside work that may be short of memory.
class ProgressLine {
public:
    static constexpr double kQuiet = 0.5;
    static constexpr double kPeriod = 0.1;

    explicit ProgressLine(bool inPlace) : inPlace_(inPlace) {}

    // The bytes to write now, seconds after some fixed moment, for what
    // progress says; empty when nothing is to change. Valid until the next
    // call.
    std::string_view update(const Progress& progress, double now);

    // Takes back what is shown in place and ends the stage under way: it
    // shows nothing more. Valid until the next call.
    std::string_view settle(const Progress& progress);

private:
    void erase();
    void append(std::string_view text);

    bool inPlace_;
    std::uint64_t seen_ = 0;     // the stage last seen, by Progress::begun
    std::uint64_t settled_ = 0;  // the stage last settled
    double since_ = 0.0;         // when seen_ was first seen
    double written_ = -1e300;    // when text last changed
    char shown_[96] = {};        // the text on screen, or last written as a line
    std::size_t shownSize_ = 0;
    bool onScreen_ = false;  // in place: shown_ is still there to take back
    char out_[512] = {};
    std::size_t outSize_ = 0;
};

// Shows a Progress on a file descriptor (standard error) from a thread of
// its own, ten times a second, until destroyed. settle() must come before
// anything else is written to the same screen.
class ProgressDisplay {
public:
    ProgressDisplay(const Progress& progress, int descriptor, bool inPlace);
    ~ProgressDisplay();

    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    // Clears the line and ends the stage under way; see ProgressLine::settle.
    void settle();

private:
    void watch();
    void put(std::string_view bytes) const;

    const Progress& progress_;
    int descriptor_;
    ProgressLine line_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};
