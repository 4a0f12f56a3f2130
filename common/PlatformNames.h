#pragma once
// The platform's names the modes work with, brought into the program's namespace once: the
// filesystem's client (files, directories, items, open modes), the mount entries, a dialog and a
// progress dialog. The drive-selection dialog's item, an FSItem of its own, is named where it is
// used.
#include "platform/Filesystem.h"
#include "platform/Skarnel.h"

namespace Applications::Commands::Scrivlet {

using namespace Services::Filesystem::Client;
using Services::Mount::Client::Entry;
using Services::Skarnel::Client::Dialog;
using Services::Skarnel::Client::Progress;

} // namespace Applications::Commands::Scrivlet
