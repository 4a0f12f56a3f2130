#pragma once
// The markers a failing step sets in the top four bits of the code a mode reports, so that a code
// in the log names the step as well as the error: the step's number, shifted there. A number
// means something only beside the mode that logged it: the same number names different steps in
// different modes. Every mode's steps are here, so that a code read in a log can be looked up in
// one place.
namespace Applications::Commands::Scrivlet {

// The code's bits that hold the step's number.
inline constexpr unsigned stepShift = 28;

// The marker of a step, to be or-ed into the code a failure reports.
constexpr unsigned marker(unsigned step) {
    return step << stepShift;
}

// Saving a file or a screenshot (the save engine), and choosing its drive.
namespace SaveStep {
enum : unsigned {
    IndexedCreate = 1,
    DriveDialog = 4,
    Create = 6,
    // No location and no copy buffer are one step: both leave the save with nowhere to copy.
    NoLocation = 8,
    CopyBuffer = NoLocation,
    Write = 0xA,
    Read = 0xC
};
} // namespace SaveStep

// Saving the system log.
namespace LogSaveStep {
enum : unsigned { NothingSaved = 2, NoLocation = 8 };
} // namespace LogSaveStep

// The export: the selection dialog, then the copy, one step after the other.
namespace ExportStep {
enum : unsigned {
    BootMount = 1,
    Category,
    Dialog,
    NoName,
    DriveFolder,
    CreateExport,
    OpenExport,
    CopyBuffer,
    OpenSource,
    TargetFolder,
    CreateTarget,
    Read,
    Write
};
} // namespace ExportStep

// The uploads.
namespace UploadStep {
enum : unsigned { Capabilities = 1, Client, LogTransfer, OpenFile, FileTransfer };
} // namespace UploadStep

// A platform directory (the log and file directories the export and the save read).
namespace PlatformDirectoryStep {
enum : unsigned { NotMounted = 5, NoNode = 7 };
} // namespace PlatformDirectoryStep

} // namespace Applications::Commands::Scrivlet
