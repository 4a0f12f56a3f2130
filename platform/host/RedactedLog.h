#pragma once
// The system log redacted on its way out: the text passes through the run's redactor into a gzip
// file whose first line says what was replaced, and the mapping back to the values is kept on this
// machine only, readable by the user alone, next to the platform's state.
#include "Host.h"
#include "Redaction.h"
#include <functional>
#include <memory>
#include <string>

namespace Host {

// The redaction's part of the run's state: one redactor for every log of the run, so that a value
// has the same placeholder in each, and the one file its mapping is kept in.
struct RedactionState {
    explicit RedactionState(const Config& c) : config(c) {}
    // The privacy settings, and the platform's root the mapping is kept below.
    const Config& config;
    std::unique_ptr<Redaction::Redactor> redactor;
    std::string mappingFile;
    bool toldWhere = false;
};

using TextSink = std::function<bool(const char*, size_t)>;
// Writes the text `produce` gives (through the sink it is handed) into `target`, which it closes:
// gzip, redacted, after a first line with the counts of each kind replaced. The mapping is on the
// medium before this returns true.
bool compressRedacted(RedactionState& state, int target, const std::function<bool(const TextSink&)>& produce);

} // namespace Host
