// The remote-storage client library's calls: the upload's key, tag and progress are made here; the
// store is reached, and each file sent, by the installed RemoteService.
#include "Remote.h"
#include "RemoteService.h"
#include <random>

namespace Libraries::Tarnhold::Remote {
namespace {

constexpr const char* fileContentType = "application/octet-stream";
constexpr const char* logContentType = "application/gzip";
constexpr const char tagAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int tagLength = 8;

// Progress of one upload mapped onto [base, base + span] of what the notifier reports, never
// backwards (an attempt that is repeated starts its bytes again).
class Transfer : public TransferObserver {
  public:
    Transfer(ZEZUvedaze::Progress* notifier, double base, double span)
        : m_notifier(notifier), m_base(base), m_span(span) {}
    void report(double fraction) {
        double whole = m_base + m_span * fraction;
        int percent = static_cast<int>(whole * 100);
        if (!m_notifier || percent <= m_lastPercent) return;
        m_lastPercent = percent;
        if (auto* n = dynamic_cast<Interfaces::ProgressNotifier*>(m_notifier)) n->progress(0, whole);
    }
    void sent(uint64_t bytes, uint64_t total) override {
        if (total > 0) report(static_cast<double>(bytes) / static_cast<double>(total));
    }
    bool cancelled() override {
        if (m_notifier && m_notifier->abandon()) m_abandoned = true;
        return m_abandoned;
    }
    bool abandoned() const { return m_abandoned; }
    // The part of the whole that the next reports cover.
    void cover(double base, double span) {
        m_base = base;
        m_span = span;
    }

  private:
    ZEZUvedaze::Progress* m_notifier;
    double m_base, m_span;
    int m_lastPercent = -1;
    bool m_abandoned = false;
};

// Sends the whole file as "<prefix><tag>/<name>"; the tag when the store took it, else empty with
// the reason in Error::get.
Ref<String> store(const Store& target, const std::string& tag, const std::string& name,
                  Services::Filesystem::Client::File& file, const char* contentType, Transfer& transfer,
                  unsigned timeLimitMs) {
    std::string key = target.prefix() + tag + "/" + name;
    if (target.maxBytes() && file.size() > target.maxBytes()) {
        Error::set(Errors::TooLarge);
        return {};
    }
    bool stored = service<RemoteService>().put(target, key, file, contentType, transfer, timeLimitMs);
    if (transfer.abandoned() && !stored) Error::set(Errors::Cancelled);
    if (!stored) return {};
    transfer.report(1.0);
    return String::create(tag);
}

} // namespace

std::string newTag() {
    std::random_device device;
    std::string tag;
    for (int i = 0; i < tagLength; i++)
        tag += tagAlphabet[device() % (sizeof tagAlphabet - 1)];
    return tag;
}

Ref<Capabilities> Capabilities::create(bool, unsigned timeoutMs, bool) {
    std::shared_ptr<const Store> store = service<RemoteService>().reach(timeoutMs);
    if (!store) return {};
    Ref<Capabilities> caps(new Capabilities);
    caps->m_capability = Ref<ZEZUvedaze>(new ZEZUvedaze(std::move(store)));
    return caps;
}

Ref<ZEZUvedaze> ZEZUvedaze::create(const Ref<Capabilities::ZEZUvedaze>& capability) {
    if (!capability) {
        Error::set(Errors::Unavailable);
        return {};
    }
    if (!service<RemoteService>().connect(*capability->store())) return {};
    return Ref<ZEZUvedaze>(new ZEZUvedaze(capability->store()));
}

Ref<String> ZEZUvedaze::uploadFile(const Ref<Services::Filesystem::Client::File>& stream,
                                   const Ref<String>& name, const Ref<Progress>& notifier,
                                   unsigned timeLimitMs) {
    if (!stream) {
        Error::set(Errors::NotFound);
        return {};
    }
    Transfer transfer(notifier.get(), 0, 1);
    return store(*m_store, newTag(), stdString(name), *stream, fileContentType, transfer, timeLimitMs);
}

Ref<String> ZEZUvedaze::uploadSyslog(const Ref<String>& suffix, const Ref<Progress>& notifier,
                                     unsigned timeLimitMs) {
    Transfer transfer(notifier.get(), 0, 0.5);
    Ref<Services::Filesystem::Client::File> file = service<RemoteService>().compressedLog([&](double f) {
        transfer.report(f);
        return !transfer.cancelled();
    });
    if (transfer.abandoned()) {
        Error::set(Errors::Cancelled);
        return {};
    }
    if (!file) return {};
    transfer.cover(0.5, 0.5);
    return store(*m_store, newTag(), "Orvane-syslog-" + stdString(suffix) + ".log.gz", *file, logContentType,
                 transfer, timeLimitMs);
}

} // namespace Libraries::Tarnhold::Remote
