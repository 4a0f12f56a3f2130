#pragma once
// What the system log's calls reach: one SysLogService installed when the process starts (the
// host's journal or store of lines, or lines kept in memory in unit tests).
#include "ServiceSlot.h"
#include "SysLog.h"
#include <functional>
#include <memory>
#include <string>

class SysLogService {
  public:
    virtual ~SysLogService() = default;
    // The name the program's lines are logged under.
    virtual void setProcessName(const std::string& name) = 0;
    virtual unsigned options() = 0;
    // The lowest level that is logged, and whether the program logs at all.
    virtual unsigned level() = 0;
    virtual bool enabled() = 0;
    // Keeps one line: its level, its text, and the code written into it in hexadecimal (-1: none).
    virtual void write(unsigned level, const std::string& text, long long code) = 0;
    // Starts a compressed export of the log to a platform path; null with the reason in Error::get.
    virtual Ref<SysLog::SysLogExport> exportLog(const Ref<String>& path) = 0;
};

// The name a use before the service is installed is reported with.
template <> inline constexpr const char* serviceName<SysLogService> = "system log service";
