#pragma once
#include <cstdint>

// The platform's 32-bit error code. Each thread keeps its own last error, which every platform call
// that fails leaves behind.
class Error {
  public:
    constexpr Error() = default;
    constexpr Error(unsigned int value) : m_value(value) {}
    constexpr operator unsigned int() const { return m_value; }

    static Error get();
    static void set(Error error);

  private:
    uint32_t m_value = 0;
};

// Error codes of the hosted platform services.
namespace Errors {
inline constexpr unsigned NotFound = 0x20;
inline constexpr unsigned InvalidPath = 0x21;
inline constexpr unsigned NotWritable = 0x22;
inline constexpr unsigned NotADirectory = 0x23;
inline constexpr unsigned AlreadyExists = 0x24;
inline constexpr unsigned IoError = 0x25;
inline constexpr unsigned NoSpace = 0x26;
inline constexpr unsigned NotEmpty = 0x27;
inline constexpr unsigned NotARegularFile = 0x28;
inline constexpr unsigned NothingToRemove = 0x60;
inline constexpr unsigned EndOfFile = 0xA5;
inline constexpr unsigned AlreadyOpened = 0x222;
inline constexpr unsigned OutOfMemory = 0x100;
inline constexpr unsigned NotSupported = 0x101;
inline constexpr unsigned DialogClosed = 0x2007;
inline constexpr unsigned Unavailable = 0x10002;
inline constexpr unsigned Cancelled = 0x8442;
inline constexpr unsigned Failed = 0x8443;
inline constexpr unsigned BadSelection = 0x8446;
inline constexpr unsigned LogUnavailable = 0x8483;
inline constexpr unsigned TooLarge = 0x8484;
inline constexpr unsigned TransferFailed = 0x8485;
inline constexpr unsigned ServerRefused = 0x8486;
} // namespace Errors

// Maps a host errno onto the platform code space.
unsigned errorFromErrno(int err);
