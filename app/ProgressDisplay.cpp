#include "app/ProgressDisplay.h"

#include "io/InterruptsHeld.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace {

// What has been done of the stage, in words after the figure.
const char* doneWords(Progress::Stage stage)
{
    switch (stage) {
    case Progress::Stage::Reading: return "read";
    case Progress::Stage::Normals: return "of the normals estimated";
    case Progress::Stage::Tree: return "of the KD-tree built";
    case Progress::Stage::Triangulating: return "triangulated";
    case Progress::Stage::Repairing: return "repaired";
    case Progress::Stage::Writing: return "written";
    case Progress::Stage::None: break;
    }
    return "";
}

// The stage's text into buffer: a percentage, or the bytes read where the
// total is not known (a pipe). Returns its length.
std::size_t describe(Progress::Stage stage, std::uint64_t done, std::uint64_t total, char* buffer, std::size_t size)
{
    int length;
    if (total == 0) {
        const double megabytes = static_cast<double>(done) / 1e6;
        length = std::snprintf(buffer, size, "%.0f MB %s", megabytes, doneWords(stage));
    } else {
        std::uint64_t percent = done >= total ? 100 : done * 100 / total;
        // Triangles only estimate how far the run has got, and the normals'
        // orientation follows their searches: never claim the end before
        // it comes.
        const bool estimate = stage == Progress::Stage::Triangulating || stage == Progress::Stage::Normals;
        if (estimate && percent > 99)
            percent = 99;
        length = std::snprintf(buffer, size, "%u%% %s", static_cast<unsigned>(percent), doneWords(stage));
    }
    return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), size - 1);
}

// The terminal keeps the place where the text begins and goes back there
// for every rewrite, clearing to the end of the line. Unlike backspacing
// over the text this holds when something else moves the cursor meanwhile,
// such as the ^C a terminal echoes just before the program ends.
constexpr std::string_view kKeepPlace = "\033"
                                        "7";
constexpr std::string_view kBackToPlace = "\033"
                                          "8";
constexpr std::string_view kClearToEnd = "\033[K";

double secondsNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void ProgressLine::append(std::string_view text)
{
    const std::size_t room = sizeof out_ - outSize_;
    const std::size_t n = std::min(text.size(), room);
    std::memcpy(out_ + outSize_, text.data(), n);
    outSize_ += n;
}

// The cursor ends where the text began, after the report's open line.
void ProgressLine::erase()
{
    if (!onScreen_)
        return;
    append(kBackToPlace);
    append(kClearToEnd);
    onScreen_ = false;
    shownSize_ = 0;
}

std::string_view ProgressLine::update(const Progress& progress, double now)
{
    outSize_ = 0;
    const std::uint64_t begun = progress.begun();
    const Progress::Stage stage = progress.stage();
    const std::uint64_t done = progress.done();
    const std::uint64_t total = progress.total();
    if (begun != seen_) {
        seen_ = begun;
        since_ = now;
        // What the last stage said is no longer true.
        erase();
        shownSize_ = 0;
    }
    // The watching thread wakes once a period; a little slack keeps a wake
    // that comes a hair early from skipping a turn.
    if (begun == settled_ || stage == Progress::Stage::None || now - since_ < kQuiet ||
        now - written_ < kPeriod - 0.005)
        return {out_, outSize_};

    char text[sizeof shown_];
    const std::size_t size = describe(stage, done, total, text, sizeof text);
    if (size == shownSize_ && std::memcmp(text, shown_, size) == 0)
        return {out_, outSize_};
    if (inPlace_) {
        append(onScreen_ ? kBackToPlace : kKeepPlace);
        append({text, size});
        append(kClearToEnd);
        onScreen_ = true;
    } else {
        append("  progress: ");
        append({text, size});
        append("\n");
    }
    std::memcpy(shown_, text, size);
    shownSize_ = size;
    written_ = now;
    return {out_, outSize_};
}

std::string_view ProgressLine::settle(const Progress& progress)
{
    outSize_ = 0;
    erase();
    settled_ = progress.begun();
    seen_ = settled_;
    shownSize_ = 0;
    return {out_, outSize_};
}

ProgressDisplay::ProgressDisplay(const Progress& progress, int descriptor, bool inPlace)
    : progress_(progress), descriptor_(descriptor), line_(inPlace)
{
    // The interrupt handler must run on the thread that does the work: it
    // keeps interrupts away while it makes a temporary file.
    const InterruptsHeld held;
    try {
        thread_ = std::thread(&ProgressDisplay::watch, this);
    } catch (const std::system_error&) {
        // No thread, no display; the run goes on without one.
    }
}

ProgressDisplay::~ProgressDisplay()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
    settle();
}

void ProgressDisplay::settle()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    put(line_.settle(progress_));
}

void ProgressDisplay::watch()
{
    std::unique_lock<std::mutex> lock(mutex_);
    const auto period = std::chrono::duration<double>(ProgressLine::kPeriod);
    while (!wake_.wait_for(lock, period, [this] { return stopping_; }))
        put(line_.update(progress_, secondsNow()));
}

void ProgressDisplay::put(std::string_view bytes) const
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(descriptor_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nowhere to show it; the run does not depend on it
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}
