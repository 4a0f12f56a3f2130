#include "ProgressLine.h"
#include <cstdio>

namespace Ui {
namespace {

constexpr unsigned barWidth = 20;
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

std::string progressLine(const ProgressState& s, unsigned width) {
    uint64_t value = s.value < s.maximum ? s.value : s.maximum;
    double fraction = s.maximum ? static_cast<double>(value) / static_cast<double>(s.maximum) : 0;
    std::string bar(static_cast<size_t>(fraction * barWidth), '#');
    bar.resize(barWidth, ' ');
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
    std::string line = "[" + bar + "] " + percent;
    if (s.maximum >= byteCountingMaximum) {
        line += "  " + humanBytes(static_cast<double>(value)) + " / " +
                humanBytes(static_cast<double>(s.maximum));
        if (s.elapsedSeconds >= steadyAfterSeconds)
            line += "  " + humanBytes(static_cast<double>(value) / s.elapsedSeconds) + "/s";
    }
    bool steady = s.elapsedSeconds >= steadyAfterSeconds && fraction > 0;
    line +=
        "  " + (steady ? clock(s.elapsedSeconds * (1 - fraction) / fraction) : std::string("-:--")) + " left";
    if (!s.text.empty()) line += "  " + s.text;
    return clip(line, width);
}

} // namespace Ui
