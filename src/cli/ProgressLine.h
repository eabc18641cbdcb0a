// The progress line of harvix-cli on a terminal: a bar, the entries combed
// of all, the files kept and the time taken, redrawn in place on standard
// error. Nothing is drawn when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace harvix {

class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    // `out` is the stream to draw on; `enabled` is false when it is no
    // terminal (see forStandardError), and then every call does nothing.
    ProgressLine(std::FILE* out, bool enabled, int columns);
    // The line for standard error: enabled when it is a terminal, as wide
    // as the terminal.
    static ProgressLine forStandardError();

    bool enabled() const { return enabled_; }

    // Counts after each entry. Redraws when the bar, the counts or the
    // shown seconds change, at most ten times a second (the last entry
    // always shows).
    void update(uint64_t done, uint64_t total, uint64_t kept);
    // Takes the line away so that another line (a kept file's path on a
    // terminal) can be printed in its place; the next update draws it again.
    void clear();
    // Leaves the last state on its own line.
    void finish();

    // The text of the line, at most `columns - 1` characters wide so that a
    // terminal never wraps it: "[#####-----] 120/450 entries, 12 kept, 0:03".
    static std::string format(uint64_t done, uint64_t total, uint64_t kept,
                              std::chrono::seconds elapsed, int columns);
    // "0:07", "12:34", "1:02:03".
    static std::string elapsedText(std::chrono::seconds elapsed);

private:
    void draw(const std::string& text);

    std::FILE* out_;
    bool enabled_;
    int columns_;
    Clock::time_point start_;
    Clock::time_point lastDraw_{};
    std::string shown_;
    bool visible_ = false;
    uint64_t done_ = 0, total_ = 0, kept_ = 0;
};

}  // namespace harvix
