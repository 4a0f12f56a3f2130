#pragma once
// The help screen: the program's modes and options, coloured on a terminal.
#include <cstddef>
#include <string>

namespace Applications::Commands::Scrivlet {

void printHelpScreen();
// The help screen's lines with their attribute markers, one entry per printed line.
const std::u16string* helpLines(size_t& count);

} // namespace Applications::Commands::Scrivlet
