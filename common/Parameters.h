#pragma once
// Everything the command line says, filled by the command-line parser through `handle`.
#include "platform/Commandline.h"
#include "platform/String.h"
#include <cstdint>

namespace Applications::Commands::Scrivlet {

// The modes the option "mode" selects.
namespace Modes {
inline constexpr uint32_t File = 0;
inline constexpr uint32_t Log = 1;
inline constexpr uint32_t Screenshot = 2;
inline constexpr uint32_t Export = 3;
inline constexpr uint32_t LogUpload = 4;
inline constexpr uint32_t FileUpload = 5;
inline constexpr uint32_t ScreenshotUpload = 6;
} // namespace Modes

class Parameters : public Object, public Libraries::Commandline::Parameters::Handler {
  public:
    Parameters();
    ~Parameters() override;
    bool handle(uint64_t id, const Ref<String>& text, const Ref<String>& value) override;

    Ref<String> source() const { return m_source; }
    Ref<String> destination() const { return m_destination; }

    bool valid = false;
    bool help = false;
    uint32_t mode = 0;
    uint64_t tid = 0;
    uint64_t pid = 0;
    bool allowRename = false;
    bool addIndex = false;
    bool dontForceBoot = false;
    bool silent = false;
    bool reuseName = false;
    bool showProgress = false;
    bool showSuccess = false;
    bool noCompress = false;
    Ref<String> m_source;
    Ref<String> m_destination;
    Ref<String> date;
    Ref<String> suffix;

  private:
    bool selectMode(const Ref<String>& value);
};

// The program's option table: 16 rows, filled once at start-up.
extern const Libraries::Commandline::OptionEntry optionTable[16];

} // namespace Applications::Commands::Scrivlet
