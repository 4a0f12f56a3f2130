#pragma once
// The journal's library reads its files through memory mappings. A file cut short while it is read
// (journald rotating or vacuuming it, a full disk) would end the process with SIGBUS at the first
// page past the new end. While a guard lives, such a page is replaced by one of zeros instead, as
// the journal's own tools do, and the reader learns that the file was cut short: what it read from
// then on cannot be trusted.
//
// Guards may be made on several threads at once; the handler is installed by the first and the
// previous one put back by the last. A SIGBUS that is not a mapped file's missing page is left to
// the default action.
#include <atomic>

namespace Journal {

class CutShortGuard {
  public:
    CutShortGuard();
    ~CutShortGuard();
    CutShortGuard(const CutShortGuard&) = delete;
    CutShortGuard& operator=(const CutShortGuard&) = delete;
    // Whether a mapped page was found missing since this guard was made.
    bool struck() const;

  private:
    unsigned long m_faultsBefore;
};

} // namespace Journal
