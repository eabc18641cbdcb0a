#include "cli/ProgressLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace harvix {

namespace {

constexpr int kDefaultColumns = 80;
constexpr int kMinBar = 10;
constexpr int kMaxBar = 40;
constexpr auto kRedrawPause = std::chrono::milliseconds(100);

int terminalColumns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    if (const char* columns = std::getenv("COLUMNS")) {
        const int value = std::atoi(columns);
        if (value > 0) {
            return value;
        }
    }
    return kDefaultColumns;
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, bool enabled, int columns)
    : out_(out), enabled_(enabled), columns_(std::max(columns, 1)), start_(Clock::now()) {}

ProgressLine ProgressLine::forStandardError() {
    const bool terminal = isatty(STDERR_FILENO) == 1;
    return ProgressLine(stderr, terminal, terminal ? terminalColumns(STDERR_FILENO) : 0);
}

std::string ProgressLine::elapsedText(std::chrono::seconds elapsed) {
    const long long total = std::max<long long>(elapsed.count(), 0);
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long seconds = total % 60;
    char text[48];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, seconds);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, seconds);
    }
    return text;
}

std::string ProgressLine::format(uint64_t done, uint64_t total, uint64_t kept,
                                 std::chrono::seconds elapsed, int columns) {
    done = std::min(done, total);
    const std::string counts = std::to_string(done) + "/" + std::to_string(total) + " entries, " +
                               std::to_string(kept) + " kept, " + elapsedText(elapsed);
    const int room = columns - 1 - static_cast<int>(counts.size()) - 3;  // "[", "] "
    if (room < kMinBar) {
        return counts.substr(0, static_cast<std::size_t>(std::max(columns - 1, 0)));
    }
    const int width = std::min(room, kMaxBar);
    const int filled =
        total == 0
            ? width
            : static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * width);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-') + "] " + counts;
}

void ProgressLine::update(uint64_t done, uint64_t total, uint64_t kept) {
    if (!enabled_) {
        return;
    }
    done_ = done;
    total_ = total;
    kept_ = kept;
    const Clock::time_point now = Clock::now();
    if (done < total && visible_ && now - lastDraw_ < kRedrawPause) {
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
    const std::string text = format(done, total, kept, elapsed, columns_);
    if (visible_ && text == shown_) {
        return;
    }
    lastDraw_ = now;
    draw(text);
}

void ProgressLine::draw(const std::string& text) {
    std::fprintf(out_, "\r%s\x1b[K", text.c_str());
    std::fflush(out_);
    shown_ = text;
    visible_ = true;
}

void ProgressLine::clear() {
    if (enabled_ && visible_) {
        std::fputs("\r\x1b[K", out_);
        std::fflush(out_);
        visible_ = false;
    }
}

void ProgressLine::finish() {
    if (!enabled_ || shown_.empty()) {
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_);
    draw(format(done_, total_, kept_, elapsed, columns_));
    std::fputc('\n', out_);
    std::fflush(out_);
    visible_ = false;
    shown_.clear();
}

}  // namespace harvix
