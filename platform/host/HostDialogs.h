#pragma once
// The host's dialog service, and the decorators the configuration may ask for around it.
#include "platform/DialogService.h"
#include <memory>
#include <string>

namespace Host {

class FaultRules;
class HostPlatform;

// The dialogs of this host: the terminal, headless or scripted backend the configuration chooses,
// the namespace's drives, and the mounts of the drives chosen.
std::unique_ptr<Services::Skarnel::DialogService> makeHostDialogs(HostPlatform& platform);

// Fails the calls the configuration's fault rules name ("Dialog::show", "Dialog::create",
// "Progress::create", "FSItem::create").
std::unique_ptr<Services::Skarnel::DialogService>
withDialogFaults(std::unique_ptr<Services::Skarnel::DialogService> inner, FaultRules& rules);

// Appends one JSON line per call, with its answer, to the transcript file.
std::unique_ptr<Services::Skarnel::DialogService>
withDialogTranscript(std::unique_ptr<Services::Skarnel::DialogService> inner, std::string path);

// The host's dialogs, wrapped in the fault rules when there are any and in the transcript when one
// is asked for (ORVANE_UI_TRANSCRIPT or ui.transcript).
std::unique_ptr<Services::Skarnel::DialogService> makeConfiguredDialogs(HostPlatform& platform);
// Installs them, to be made at the first dialog call.
void installDialogs(HostPlatform& platform);

} // namespace Host
