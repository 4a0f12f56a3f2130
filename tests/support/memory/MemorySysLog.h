#pragma once
// A system log kept in memory: the lines the program logs, and exports that write them, as plain
// text, through the installed file service at once.
#include "platform/SysLogService.h"
#include <mutex>
#include <vector>

class MemorySysLog : public SysLogService {
  public:
    struct Line {
        unsigned level;
        std::string text;
        long long code;
    };
    unsigned optionBits = 0;
    unsigned lowestLevel = 1;
    // Exports that write half of their file and then fail (state 3).
    bool failExports = false;

    void setProcessName(const std::string& name) override;
    unsigned options() override { return optionBits; }
    unsigned level() override { return lowestLevel; }
    bool enabled() override { return true; }
    void write(unsigned level, const std::string& text, long long code) override;
    Ref<SysLog::SysLogExport> exportLog(const Ref<String>& path) override;

    std::vector<Line> lines() const;
    // Whether a line at `level` or above contains `text`.
    bool logged(const std::string& text, unsigned level = 1) const;
    std::string processName() const;

  private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
    std::string m_processName;
};
