#include "RedactionSieve.h"
#include "ByteBlock.h"
#include "RedactionShapes.h"
#include <algorithm>

namespace Redaction::Shapes {
namespace {

using Host::ByteBlock;

// What a secret's or a header's name can end with, the value's ':' or '=' (after an optional quote
// and spaces) right after it: every spelling of the names ends with one of these, and each of
// these ends with one of the letters after them.
constexpr std::string_view nameEndings[] = {"password", "passwd",        "passphrase", "pass",  "pwd",
                                            "secret",   "token",         "key",        "keyid", "key_id",
                                            "key-id",   "authorization", "cookie"};
constexpr std::string_view nameEndingLetters = "destny";
// The four letters an access key id begins with, the first always 'A'.
constexpr std::string_view keyIdTails[] = {"KIA", "SIA", "GPA", "IDA", "ROA",
                                           "IPA", "NPA", "NVA", "BIA", "CCA"};
constexpr size_t keyIdLength = 20;
// A MAC address: six pairs of hexadecimal digits, or three groups of four.
constexpr size_t macPairs = 6, macGroups = 3, macGroupDigits = 4;
// An IPv6 address without "::" has at least six colons, one to four hexadecimal digits apart.
constexpr size_t fewestColons = 6, mostGroupDigits = 4;

// The spaces of the patterns' "\s", which never matches a line feed here.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\r';
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

bool isKeyIdCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
}

// A ':' or '=' at `at` after a name a secret or a header can have, an optional quote and spaces.
bool followsName(std::string_view text, size_t at) {
    size_t end = at;
    while (end > 0 && isSpace(text[end - 1]))
        end--;
    if (end > 0 && (text[end - 1] == '"' || text[end - 1] == '\'')) end--;
    if (end == 0 || nameEndingLetters.find(lower(text[end - 1])) == std::string_view::npos) return false;
    for (std::string_view ending : nameEndings)
        if (end >= ending.size() && holdsIgnoringCase(text, end - ending.size(), ending)) return true;
    return false;
}

// Whether a MAC address of six pairs separated by `separator` begins at `start`.
bool macPairsAt(std::string_view text, size_t start, char separator) {
    constexpr size_t length = macPairs * 3 - 1;
    if (start > text.size() || text.size() - start < length) return false;
    // The separators first: a date's or a time's stop at the third.
    for (size_t i = 2; i < length; i += 3)
        if (text[start + i] != separator) return false;
    for (size_t i = 0; i < length; i++)
        if (i % 3 != 2 && !isHex(text[start + i])) return false;
    return true;
}

// Whether a MAC address of three dotted groups of four begins at `start`.
bool macGroupsAt(std::string_view text, size_t start) {
    constexpr size_t step = macGroupDigits + 1, length = macGroups * step - 1;
    if (start > text.size() || text.size() - start < length) return false;
    for (size_t i = macGroupDigits; i < length; i += step)
        if (text[start + i] != '.') return false;
    for (size_t i = 0; i < length; i++)
        if (i % step != macGroupDigits && !isHex(text[start + i])) return false;
    return true;
}

// A colon at `at` that begins "::" or a chain of six colons with one to four hexadecimal digits
// between each and the next: every IPv6 address holds one or the other from its first colon.
bool beginsIpv6Colons(std::string_view text, size_t at) {
    if (at + 1 < text.size() && text[at + 1] == ':') return true;
    size_t colons = 1;
    for (size_t colon = at; colons < fewestColons; colons++) {
        size_t next = colon + 1;
        while (next < text.size() && next - colon <= mostGroupDigits && isHex(text[next]))
            next++;
        if (next == colon + 1 || next >= text.size() || text[next] != ':') return false;
        colon = next;
    }
    return true;
}

bool beginsKeyId(std::string_view text, size_t at) {
    if (text.size() - at < keyIdLength) return false;
    bool tail = false;
    for (std::string_view candidate : keyIdTails)
        tail = tail || text.compare(at + 1, candidate.size(), candidate) == 0;
    if (!tail) return false;
    for (size_t i = 1 + 3; i < keyIdLength; i++)
        if (!isKeyIdCharacter(text[at + i])) return false;
    return true;
}

// Whether the byte at `at`, one the look stops at, may lie inside a match.
bool suspect(std::string_view text, size_t at) {
    switch (text[at]) {
    case ':':
        return followsName(text, at) || beginsIpv6Colons(text, at) ||
               (at >= 2 && macPairsAt(text, at - 2, ':'));
    case '=':
        return followsName(text, at);
    case '-':
        return at >= 2 && macPairsAt(text, at - 2, '-');
    case '.':
        return at >= macGroupDigits && macGroupsAt(text, at - macGroupDigits);
    case '@':
        return true; // an e-mail address, or the end of a URL's user information
    case 'A':
        return beginsKeyId(text, at);
    default: // 'b' or 'B'
        return holdsIgnoringCase(text, at, "bearer") && at + 6 < text.size() && isSpace(text[at + 6]);
    }
}

bool isKeyCharacter(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '/' || c == '+';
}

// A forty-character key holds a whole block (a run of forty holds one of any sixteen-byte grid):
// the run of key characters around `block`, when the block is all of them, or npos.
size_t keyAround(std::string_view text, size_t from, size_t block) {
    if (text.size() - block < ByteBlock::size) return std::string_view::npos;
    for (size_t i = block; i < block + ByteBlock::size; i++)
        if (!isKeyCharacter(text[i])) return std::string_view::npos;
    size_t start = block, end = block + ByteBlock::size;
    while (start > from && isKeyCharacter(text[start - 1]))
        start--;
    while (end < text.size() && isKeyCharacter(text[end]))
        end++;
    return end - start >= keyLength ? start : std::string_view::npos;
}

// The bytes of a block the look tests, each a mask with bit i for the block's byte i.
struct Classes {
    ByteBlock::Mask colon = 0, dash = 0, dot = 0;
    ByteBlock::Mask valueSign = 0; // ':' and '=', after a secret's name
    ByteBlock::Mask lone = 0;      // '@', 'A' and 'b' or 'B', which are looked at wherever they are
    ByteBlock::Mask noNameEnd = 0; // digits and ']', which end no name of a secret (nor a space before it)
    ByteBlock::Mask breaks = 0;    // the commonest bytes no key holds

    explicit Classes(const ByteBlock& bytes) {
        ByteBlock::Lanes colons = bytes.equal(':'), dashes = bytes.equal('-'), dots = bytes.equal('.');
        ByteBlock::Lanes signs = colons | bytes.equal('=');
        colon = colons.mask();
        dash = dashes.mask();
        dot = dots.mask();
        valueSign = signs.mask();
        ByteBlock::Lanes at = bytes.equal('@');
        lone = (at | bytes.equal('A') | bytes.equal(ByteBlock::Byte('b', true))).mask();
        noNameEnd = (bytes.digits() | bytes.equal(']')).mask();
        breaks = (signs | dashes | dots | at | bytes.equal(' ')).mask();
    }
    Classes() = default;
};

// A class's bits of this block and the next, so that bit i + k tells of the byte k places on.
ByteBlock::Mask ahead(ByteBlock::Mask here, ByteBlock::Mask next) {
    return here | (next << ByteBlock::size);
}

// The places of the block that may lie in a match, by what stands near them (in the block before,
// this one and the next): each test is one the match's bytes pass, and suspect() the closer look.
ByteBlock::Mask candidates(const Classes& before, const Classes& here, const Classes& next) {
    ByteBlock::Mask colons = ahead(here.colon, next.colon);
    ByteBlock::Mask dashes = ahead(here.dash, next.dash);
    ByteBlock::Mask dots = ahead(here.dot, next.dot);
    ByteBlock::Mask noNameEndBefore = (here.noNameEnd << 1) | (before.noNameEnd >> (ByteBlock::size - 1));
    // A secret's name before a ':' or '='; an IPv6 address's or a MAC address's colon with another
    // within five bytes; a MAC address's dash or dot with the next two where they must be.
    ByteBlock::Mask places =
        (here.valueSign & ~noNameEndBefore) |
        (here.colon & ((colons >> 1) | (colons >> 2) | (colons >> 3) | (colons >> 4) | (colons >> 5))) |
        (here.dash & (dashes >> 3) & (dashes >> 6)) | (here.dot & (dots >> (macGroupDigits + 1)));
    return (places | here.lone) & ((ByteBlock::Mask(1) << ByteBlock::size) - 1);
}

unsigned lowestBit(ByteBlock::Mask mask) {
    return static_cast<unsigned>(__builtin_ctz(mask));
}

} // namespace

size_t nextSuspect(std::string_view text, size_t from) {
    // Beyond the text, spaces: they stop nothing and no key holds them.
    constexpr char filler = ' ';
    // Before `from` nothing is known: every place may follow a name.
    Classes before, here(ByteBlock::at(text, from, filler));
    for (size_t block = from; block < text.size(); block += ByteBlock::size) {
        Classes next(ByteBlock::at(text, block + ByteBlock::size, filler));
        if (here.breaks == 0) {
            size_t key = keyAround(text, from, block);
            if (key != std::string_view::npos) return key;
        }
        for (ByteBlock::Mask places = candidates(before, here, next); places; places &= places - 1)
            if (suspect(text, block + lowestBit(places))) return block + lowestBit(places);
        before = here;
        here = next;
    }
    return std::string_view::npos;
}

} // namespace Redaction::Shapes
