#include "io/PointFileReader.h"

#include "io/InputFile.h"
#include "io/InterruptsHeld.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// How far the notation from_chars may take reaches from a token's start
// (stop), and whether all of [start, stop) has that form (plain): an
// optional minus, 1 to 19 digits with at most one point among them, then
// optionally an exponent letter, an optional sign and 1 to 4 digits. Only
// this notation goes to from_chars, as the one both functions are sure to
// read alike: from_chars takes no plus sign, skips no white space and reads
// no hex here, and may treat a NaN's payload its own way. Long digit
// strings and long exponents stay with strtod rather than trusting two
// long-number algorithms to agree.
struct DecimalScan {
    const char* stop;
    bool plain;
};

DecimalScan scanDecimal(const char* p, const char* end)
{
    if (p != end && *p == '-')
        ++p;
    int digits = 0;
    bool point = false;
    for (; p != end; ++p) {
        if (isDigit(*p))
            ++digits;
        else if (*p == '.' && !point)
            point = true;
        else
            break;
    }
    if (digits == 0 || digits > 19)
        return {p, false};
    if (p == end || (*p != 'e' && *p != 'E'))
        return {p, true};
    ++p;
    if (p != end && (*p == '+' || *p == '-'))
        ++p;
    // "1e" and "1e+" read as 1, but from_chars then stops short of the
    // token's end; they need no fast path.
    const char* const exponent = p;
    while (p != end && isDigit(*p))
        ++p;
    return {p, p != exponent && p - exponent <= 4};
}

// from_chars on notation scanDecimal called plain. An overflow or
// underflow is out of range for from_chars, while strtod gives inf or a
// rounded tiny value: false leaves those to strtod. Both round in the
// current mode, and both read '.' as the point as long as the program
// keeps the C locale, which it never changes.
bool readPlainDecimal(const char* first, const char* end, double& value)
{
    const std::from_chars_result result = std::from_chars(first, end, value);
    return result.ec == std::errc() && result.ptr == end;
}

double strtodValue(std::string_view token)
{
    // strtod needs a terminated copy; tokens of real files fit on the stack.
    char small[64];
    if (token.size() < sizeof small) {
        std::memcpy(small, token.data(), token.size());
        small[token.size()] = '\0';
        return std::strtod(small, nullptr);
    }
    const std::string copy(token);
    return std::strtod(copy.c_str(), nullptr);
}

// What a line of a point file turned out to be.
enum class LineKind {
    point,      // six numbers or more, the first three finite
    blank,      // a comment, or no token at all
    fewer,      // one to five numbers
    notFinite,  // six numbers or more, the position not finite
};

// The tokens of text, converted until six are counted. A token counts only
// when a space or line feed ends it; fedAtEnd says a line feed follows the
// text, as the reader supplies for a last line and for a "\r\n" ending. A
// zero byte ends the text where it stands, like a C string's terminator.
// tokens says how many were counted.
LineKind parseText(const char* p, const char* end, bool fedAtEnd, CGVertex& position, CGVector& normal, int& tokens)
{
    tokens = 0;
    if (end - p >= 2 && p[0] == '/' && p[1] == '/')
        return LineKind::blank;

    double numbers[6];
    int count = 0;
    while (count < 6) {
        while (p != end && (*p == ' ' || *p == '\n'))
            ++p;
        if (p == end || *p == '\0')
            break;
        const char* const token = p;
        // One pass both finds the token's end and tells whether the fast
        // conversion may take it.
        const DecimalScan scan = scanDecimal(p, end);
        p = scan.stop;
        bool plain = scan.plain;
        if (p != end && *p != ' ' && *p != '\n' && *p != '\0') {
            plain = false;
            while (p != end && *p != ' ' && *p != '\n' && *p != '\0')
                ++p;
        }
        if (p == end ? !fedAtEnd : *p == '\0')
            break;
        double& number = numbers[count++];
        if (!plain || !readPlainDecimal(token, p, number))
            number = strtodValue(std::string_view(token, static_cast<std::size_t>(p - token)));
    }
    tokens = count;
    if (count != 6)
        return count == 0 ? LineKind::blank : LineKind::fewer;
    // A point that cannot be placed in space would poison every distance.
    if (!std::isfinite(numbers[0]) || !std::isfinite(numbers[1]) || !std::isfinite(numbers[2]))
        return LineKind::notFinite;
    position = {numbers[0], numbers[1], numbers[2]};
    normal = {numbers[3], numbers[4], numbers[5]};
    return LineKind::point;
}

// The x y z layout's rule for a line the six-number rules skip: exactly
// three tokens, split as those rules split them, each a whole number.
bool parseThreeNumbers(const char* p, const char* end, CGVertex& position)
{
    double numbers[3];
    int count = 0;
    for (;;) {
        while (p != end && (*p == ' ' || *p == '\n'))
            ++p;
        if (p == end || *p == '\0')
            break;
        const char* const token = p;
        while (p != end && *p != ' ' && *p != '\n' && *p != '\0')
            ++p;
        // As in parseText, a token that a zero byte cuts is not counted.
        if (p != end && *p == '\0')
            break;
        if (count == 3 ||
            !wholeTokenValue(std::string_view(token, static_cast<std::size_t>(p - token)), numbers[count]))
            return false;
        ++count;
    }
    if (count != 3)
        return false;
    position = {numbers[0], numbers[1], numbers[2]};
    return true;
}

// Counts and sorts the lines of one text file as they stream by. Points
// of the six-number layout go straight to the sink; lines of the x y z
// layout are held back until the file is known to have no six-number line.
class TextLines {
public:
    TextLines(const PointSink& sink, bool threeNumbersAllowed, PointReadReport& report)
        : sink_(sink), threeNumbers_(threeNumbersAllowed), report_(report)
    {
    }

    // A line's text without its line feed, which parseText supplies. A
    // carriage return before the line feed is part of the line ending.
    void take(const char* begin, const char* end)
    {
        ++line_;
        if (end != begin && end[-1] == '\r')
            --end;
        int tokens;
        switch (parseText(begin, end, true, position_, normal_, tokens)) {
        case LineKind::point:
            sixSeen_ = true;
            sink_(position_, normal_);
            return;
        case LineKind::blank: return;
        case LineKind::notFinite:
            sixSeen_ = true;
            report_.notFinite.add(line_);
            return;
        case LineKind::fewer:
            report_.fewerThanSix.add(line_);
            if (!threeNumbers_ || sixSeen_)
                return;
            if (tokens == 3 && parseThreeNumbers(begin, end, position_)) {
                if (std::isfinite(position_.x) && std::isfinite(position_.y) && std::isfinite(position_.z))
                    held_.push_back(position_);
                else
                    threeNotFinite_.add(line_);
            } else {
                notThree_.add(line_);
            }
            return;
        }
    }

    // Counts the lines later parsed (numbered from 1, starting from what
    // this parser knew of the layout) as if this parser had gone on through
    // them; later's points must already have gone to this parser's sink.
    // Held x y z lines count only if no six-number line came before them,
    // and if one did, the layout is decided anyway.
    void append(TextLines& later, const PointReadReport& laterReport)
    {
        appendSkipped(report_.fewerThanSix, laterReport.fewerThanSix);
        appendSkipped(report_.notFinite, laterReport.notFinite);
        if (!sixSeen_) {
            appendSkipped(notThree_, later.notThree_);
            appendSkipped(threeNotFinite_, later.threeNotFinite_);
            held_.insert(held_.end(), later.held_.begin(), later.held_.end());
        }
        sixSeen_ = sixSeen_ || later.sixSeen_;
        line_ += later.line_;
    }

    // Starts a parser for lines that follow this one's, knowing what it
    // knows of the layout so far.
    void carryLayoutTo(TextLines& later) const { later.sixSeen_ = sixSeen_; }

    // Decides the layout once the whole file has gone by.
    void finish()
    {
        if (!threeNumbers_ || sixSeen_) {
            report_.layout = PointLayout::sixNumbers;
            report_.hasNormals = true;
            return;
        }
        report_.layout = PointLayout::threeNumbers;
        report_.hasNormals = false;
        report_.fewerThanSix = Skipped();
        report_.notThreeNumbers = notThree_;
        report_.notFinite = threeNotFinite_;
        const CGVector none;
        for (const CGVertex& position : held_)
            sink_(position, none);
        held_.clear();
        held_.shrink_to_fit();
    }

private:
    void appendSkipped(Skipped& into, const Skipped& later) const
    {
        if (later.count == 0)
            return;
        if (into.count == 0)
            into.first = line_ + later.first;
        into.count += later.count;
    }

    const PointSink& sink_;
    const bool threeNumbers_;
    PointReadReport& report_;
    std::uint64_t line_ = 0;
    bool sixSeen_ = false;
    std::vector<CGVertex> held_;
    Skipped notThree_;
    Skipped threeNotFinite_;
    CGVertex position_;
    CGVector normal_;
};

// Hands every line of [p, end) to lines; end is just past a line feed.
void takeLines(TextLines& lines, const char* p, const char* const end)
{
    while (p != end) {
        const char* const feed = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        lines.take(p, feed);
        p = feed + 1;
    }
}

struct PointWithNormal {
    CGVertex position;
    CGVector normal;
};

// The second half of a block's lines, parsed on a thread of its own into a
// list of its own, from line 1; lines.append then puts it after the first.
struct LaterHalf {
    std::vector<PointWithNormal>& points;
    PointSink sink = [this](const CGVertex& position, const CGVector& normal) { points.push_back({position, normal}); };
    PointReadReport report;
    TextLines lines;
    std::exception_ptr failure;

    LaterHalf(std::vector<PointWithNormal>& list, bool threeNumbersAllowed)
        : points(list), lines(sink, threeNumbersAllowed, report)
    {
        points.clear();
    }
};

// Parses [begin, end), whole lines, on two threads where there is enough to
// share, in file order all the same: the later half's points wait in a
// list until the earlier half has gone to the sink. The list is the
// caller's, kept from block to block so its pages are made only once.
void takeBlock(TextLines& lines, const PointSink& sink, bool threeNumbersAllowed, const char* begin,
               const char* const end, std::vector<PointWithNormal>& laterPoints, std::size_t splitBytes)
{
    const std::size_t size = static_cast<std::size_t>(end - begin);
    const char* split = end;
    if (size >= splitBytes && size >= 2) {
        const char* const middle = begin + size / 2 - 1;
        split = static_cast<const char*>(std::memchr(middle, '\n', static_cast<std::size_t>(end - middle))) + 1;
    }
    if (split == end) {
        takeLines(lines, begin, end);
        return;
    }
    LaterHalf later(laterPoints, threeNumbersAllowed);
    lines.carryLayoutTo(later.lines);
    auto parseLater = [&later, split, end] {
        try {
            takeLines(later.lines, split, end);
        } catch (...) {
            later.failure = std::current_exception();
        }
    };
    std::thread helper;
    {
        // Interrupts stay with the thread that does the rest of the work.
        const InterruptsHeld held;
        try {
            helper = std::thread(parseLater);
        } catch (const std::system_error&) {
            // No second thread: the later half waits for the earlier one below.
        }
    }
    const bool shared = helper.joinable();
    {
        // The helper reads the block and fills later: it must have stopped
        // before either goes, even when the sink throws.
        struct Joiner {
            std::thread& thread;
            ~Joiner()
            {
                if (thread.joinable())
                    thread.join();
            }
        } joiner{helper};
        takeLines(lines, begin, split);
    }
    if (!shared)
        parseLater();
    if (later.failure)
        std::rethrow_exception(later.failure);
    for (const PointWithNormal& point : later.points)
        sink(point.position, point.normal);
    lines.append(later.lines, later.report);
}

}  // namespace

bool fastTokenValue(std::string_view token, double& value)
{
    const char* const first = token.data();
    const char* const end = first + token.size();
    const DecimalScan scan = scanDecimal(first, end);
    return scan.plain && scan.stop == end && readPlainDecimal(first, end, value);
}

double tokenValue(std::string_view token)
{
    double value;
    if (fastTokenValue(token, value))
        return value;
    return strtodValue(token);
}

bool wholeTokenValue(std::string_view token, double& value)
{
    if (fastTokenValue(token, value))
        return true;
    // strtod would skip leading white space, which is no part of a number.
    if (token.empty() || std::isspace(static_cast<unsigned char>(token[0])) ||
        token.find('\0') != std::string_view::npos)
        return false;
    const std::string copy(token);
    char* stop = nullptr;
    value = std::strtod(copy.c_str(), &stop);
    return stop == copy.c_str() + copy.size();
}

bool parseLine(std::string_view line, CGVertex& position, CGVector& normal)
{
    int tokens;
    return parseText(line.data(), line.data() + line.size(), false, position, normal, tokens) == LineKind::point;
}

bool readPointStream(std::FILE* file, std::string_view alreadyRead, const PointSink& sink, bool threeNumbersAllowed,
                     PointReadReport& report, Progress* progress, std::size_t splitBytes)
{
    TextLines lines(sink, threeNumbersAllowed, report);

    // A regular file big enough to share between two threads is read in
    // large blocks of whole lines; anything else streams by as below.
    struct stat status;
    if (::fstat(::fileno(file), &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::uint64_t>(status.st_size) >= splitBytes) {
        // Blocks no larger than the file: under an address-space limit the
        // read must not ask for much more than the points themselves need.
        std::size_t capacity = std::max(std::min(std::size_t(16) << 20, static_cast<std::size_t>(status.st_size) + 1),
                                        alreadyRead.size() + 1);
        std::unique_ptr<char[]> block(new char[capacity]);
        // An empty view may hold no pointer at all, which memcpy must not get.
        if (!alreadyRead.empty())
            std::memcpy(block.get(), alreadyRead.data(), alreadyRead.size());
        std::size_t filled = alreadyRead.size();
        std::vector<PointWithNormal> laterPoints;
        // A point's line takes a few dozen characters; made here, the room
        // spares the helper thread an allocator of its own.
        laterPoints.reserve(capacity / 2 / 32);
        bool ended = false;
        while (!ended) {
            while (filled < capacity) {
                const std::size_t got =
                    std::fread(block.get() + filled, 1, std::min<std::size_t>(1 << 16, capacity - filled), file);
                if (got == 0) {
                    ended = true;
                    break;
                }
                if (progress != nullptr) {
                    progress->advance(got);
                    if (progress->stopped())
                        return false;
                }
                filled += got;
            }
            if (std::ferror(file))
                return false;
            const char* lastFeed = nullptr;
            for (std::size_t i = filled; i > 0; --i)
                if (block[i - 1] == '\n') {
                    lastFeed = block.get() + i - 1;
                    break;
                }
            if (lastFeed == nullptr) {
                if (ended)
                    break;
                // One line fills the block: make room for the rest of it.
                std::unique_ptr<char[]> larger(new char[capacity * 2]);
                std::memcpy(larger.get(), block.get(), filled);
                block = std::move(larger);
                capacity *= 2;
                continue;
            }
            takeBlock(lines, sink, threeNumbersAllowed, block.get(), lastFeed + 1, laterPoints, splitBytes);
            const std::size_t rest = static_cast<std::size_t>(block.get() + filled - (lastFeed + 1));
            std::memmove(block.get(), lastFeed + 1, rest);
            filled = rest;
        }
        // End of file ends the last line's last token, as a line feed would.
        if (filled != 0)
            lines.take(block.get(), block.get() + filled);
        lines.finish();
        return true;
    }

    // Lines are parsed where they lie in the buffer; only a line cut by the
    // end of a read is gathered here, in a string kept for the whole file.
    std::string pending;
    auto takeChunk = [&](const char* p, const char* const end) {
        while (p != end) {
            const void* found = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (found == nullptr) {
                pending.append(p, end);
                break;
            }
            const char* const feed = static_cast<const char*>(found);
            if (pending.empty()) {
                lines.take(p, feed);
            } else {
                pending.append(p, feed);
                lines.take(pending.data(), pending.data() + pending.size());
                pending.clear();
            }
            p = feed + 1;
        }
    };
    takeChunk(alreadyRead.data(), alreadyRead.data() + alreadyRead.size());
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (progress != nullptr) {
            progress->advance(got);
            if (progress->stopped())
                return false;
        }
        takeChunk(buffer, buffer + got);
    }
    if (std::ferror(file))
        return false;
    // End of file ends the last line's last token, as a line feed would.
    if (!pending.empty())
        lines.take(pending.data(), pending.data() + pending.size());
    lines.finish();
    return true;
}

bool readPointFile(const std::string& fileName, const PointSink& sink)
{
    const InputFile file = openInputFile(fileName);
    if (!file)
        return false;
    PointReadReport report;
    return readPointStream(file.get(), {}, sink, false, report);
}
