#pragma once
// A quick look for where the built-in shapes the automaton searches for may be: secrets after
// their names, headers, bearer tokens, passwords in URLs, access key ids, e-mail addresses, MAC
// and IPv6 addresses and forty-character keys. Each of their matches holds a byte the look stops
// at (a ':' or '=' after a secret's name, the '@' of an address, a MAC's separator, ...) and passes
// a cheap test there; a log's other lines pass none, and the automaton is spared them.
#include <cstddef>
#include <string_view>

namespace Redaction::Shapes {

// The first place at or after `from` that may lie inside a match of one of those shapes, or npos.
// Every match that begins at or after `from` holds a place that passes, so none of them ends
// before the place found (and none lies in an earlier line); many places that pass are in no match.
size_t nextSuspect(std::string_view text, size_t from);

// The length of a run of key characters that may be a forty-character key.
constexpr size_t keyLength = 40;

} // namespace Redaction::Shapes
