#pragma once
// Progress notifiers the remote-storage library calls during an upload: they log the percentage,
// move the progress dialog and pass on the user's cancellation.
#include "platform/Remote.h"
#include "platform/Skarnel.h"
#include "platform/Text.h"
#include "platform/Catalogue.h"

namespace Applications::Commands::Scrivlet {

class UploadFileProgress : public Object,
                           public Interfaces::ProgressNotifier,
                           public Libraries::Tarnhold::Remote::ZEZUvedaze::Progress {
  public:
    explicit UploadFileProgress(Ref<Services::Skarnel::Client::Progress> progress)
        : m_progress(std::move(progress)) {}
    void progress(int unused, double fraction) override;
    bool abandon() override;

  private:
    Ref<Services::Skarnel::Client::Progress> m_progress;
};

class UploadSyslogProgress : public Object,
                             public Interfaces::ProgressNotifier,
                             public Libraries::Tarnhold::Remote::ZEZUvedaze::Progress {
  public:
    UploadSyslogProgress(Ref<Services::Skarnel::Client::Progress> progress, Ref<I18N> catalogue)
        : m_progress(std::move(progress)), m_catalogue(std::move(catalogue)) {}
    void progress(int unused, double fraction) override;
    bool abandon() override;

  private:
    Ref<Services::Skarnel::Client::Progress> m_progress;
    Ref<I18N> m_catalogue;
};

} // namespace Applications::Commands::Scrivlet
