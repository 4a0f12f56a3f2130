#pragma once
// The one-line progress display of the terminal: a bar, the percentage, what is done of how much
// with its rate and the time left (as rsync's --info=progress2 or pv show it), and the dialog's
// text, clipped to the terminal's width.
#include <cstdint>
#include <string>

namespace Ui {

struct ProgressState {
    uint64_t value = 0;
    uint64_t maximum = 0;
    double elapsedSeconds = 0;
    std::string text;
};

// Maxima from this size up count bytes (a copy's progress); smaller ones are steps (per mille of an
// export, percent of a log save or an upload), shown as a percentage only.
inline constexpr uint64_t byteCountingMaximum = 64 * 1024;

// The line for `state`, at most `width` columns wide (a character of UTF-8 text counts one).
std::string progressLine(const ProgressState& state, unsigned width);
// "12.3 MiB", "512 B".
std::string humanBytes(double bytes);

} // namespace Ui
