#pragma once
// A clock that shows the time and the time-zone offset a test gives it.
#include "platform/TimeService.h"

class MemoryClock : public TimeService {
  public:
    MemoryClock(long long nowMs, long long tzOffsetMs) : m_now(nowMs), m_offset(tzOffsetMs) {}
    long long nowMs() override { return m_now; }
    long long tzOffsetMs() override { return m_offset; }

  private:
    long long m_now, m_offset;
};
