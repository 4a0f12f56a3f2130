#include "ProgressLine.h"
#include <cstdio>

namespace Ui {
namespace {

constexpr unsigned barWidth = 20;
// A text cut shorter than this says nothing: it goes whole. A bar narrower than this neither.
constexpr unsigned shortestText = 12, shortestBar = 5;
// Before this much time has passed a rate says little, and the time left nothing.
constexpr double steadyAfterSeconds = 1.0;

std::string clock(double seconds) {
    long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Cuts UTF-8 text after `columns` characters, never inside one.
std::string clip(const std::string& text, unsigned columns) {
    unsigned seen = 0;
    for (size_t i = 0; i < text.size(); i++) {
        bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && seen++ == columns) return text.substr(0, i);
    }
    return text;
}

unsigned characters(const std::string& text) {
    unsigned n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

} // namespace

std::string humanBytes(double bytes) {
    static const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        unit++;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

namespace {

// What counts: the percentage, bytes done of how many and the rate (a copy), and the time left.
std::string figuresOf(const ProgressState& s, uint64_t value, double fraction) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
    std::string figures = percent;
    if (s.maximum >= byteCountingMaximum) {
        figures += "  " + humanBytes(static_cast<double>(value)) + " / " +
                   humanBytes(static_cast<double>(s.maximum));
        if (s.elapsedSeconds >= steadyAfterSeconds)
            figures += "  " + humanBytes(static_cast<double>(value) / s.elapsedSeconds) + "/s";
    }
    bool steady = s.elapsedSeconds >= steadyAfterSeconds && fraction > 0;
    return figures + "  " +
           (steady ? clock(s.elapsedSeconds * (1 - fraction) / fraction) : std::string("-:--")) + " left";
}

std::string barOf(double fraction, unsigned inner) {
    std::string bar(static_cast<size_t>(fraction * inner), '#');
    bar.resize(inner, ' ');
    return "[" + bar + "] ";
}

// The end of a text in `columns` characters, "…" in front of what was cut: a path's end names
// the file.
std::string tailOf(const std::string& text, unsigned columns) {
    unsigned total = characters(text);
    if (total <= columns) return text;
    unsigned skip = total - columns + 1, seen = 0;
    for (size_t i = 0; i < text.size(); i++) {
        bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && seen++ == skip) return "\u2026" + text.substr(i);
    }
    return "\u2026";
}

} // namespace

std::string progressLine(const ProgressState& s, unsigned width) {
    uint64_t value = s.value < s.maximum ? s.value : s.maximum;
    double fraction = s.maximum ? static_cast<double>(value) / static_cast<double>(s.maximum) : 0;
    std::string figures = figuresOf(s, value, fraction);
    std::string bar = barOf(fraction, barWidth);
    unsigned fixed = characters(bar) + characters(figures);
    // Narrower than the whole line: the text (a path) gives way first, from its start; then the
    // bar; the figures last.
    if (s.text.empty() || fixed + 2 + characters(s.text) <= width)
        return clip(bar + figures + (s.text.empty() ? "" : "  " + s.text), width);
    if (width >= fixed + 2 + shortestText) return bar + figures + "  " + tailOf(s.text, width - fixed - 2);
    if (width >= fixed) return bar + figures;
    unsigned barRoom = width > characters(figures) + 3 ? width - characters(figures) - 3 : 0;
    if (barRoom >= shortestBar) return barOf(fraction, barRoom) + figures;
    return clip(figures, width);
}

} // namespace Ui
