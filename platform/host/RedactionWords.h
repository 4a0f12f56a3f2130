#pragma once
// Words of the host and its people (its names, its users, their homes, configured words) found by
// hand: where their pattern, the words as alternatives with the longest first, next matches, without
// an automaton's pass over the text.
#include "RedactionShapes.h"
#include <string>
#include <vector>

namespace Redaction::Shapes {

// The finder of `words`, in one pass whatever their number and kind; empty when one of them is not
// found this way (ignoring case, a word with bytes beyond ASCII, whose other cases a pattern
// knows). A match is the longest word at the leftmost place any of them stands, as their patterns'.
Finder wordFinder(std::vector<Word> words);

} // namespace Redaction::Shapes
