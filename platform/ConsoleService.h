#pragma once
// What the console's calls (the standard-output printer and the help screen's colour printer)
// reach: one ConsoleService installed when the process starts (the process's standard output, or
// text kept in memory in unit tests).
#include "ServiceSlot.h"
#include <functional>
#include <memory>
#include <string_view>

class ConsoleService {
  public:
    virtual ~ConsoleService() = default;
    virtual void write(std::string_view text) = 0;
    // What was written is shown now (the end of a line of a message).
    virtual void flush() = 0;
    // Whether colours are shown: a terminal whose user has not asked for none.
    virtual bool colour() = 0;
    // A line for the person, apart from standard output.
    virtual void note(std::string_view line) = 0;
};

// The name a use before the service is installed is reported with.
template <> inline constexpr const char* serviceName<ConsoleService> = "console service";
