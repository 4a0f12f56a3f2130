#pragma once
// Uploads encrypted for the support team: an OpenPGP message (what `gpg --decrypt` opens) to one
// or more recipients, made with GPGME, so that whoever runs the store cannot read what it holds.
#include "platform/Filesystem.h"
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Host {

class Encryption {
  public:
    // The recipients, each the fingerprint of a key in the user's keyring or a file holding a public
    // key, found and checked before anything is sent: null, with the reason, when any of them is
    // missing, expired, revoked or cannot encrypt, or when GnuPG is not there.
    static std::unique_ptr<Encryption> forRecipients(const std::vector<std::string>& recipients,
                                                     std::string& problem);
    ~Encryption();
    Encryption(const Encryption&) = delete;
    Encryption& operator=(const Encryption&) = delete;

    // Writes the whole of `from`, encrypted, to the descriptor `to`; false with the reason. Asks
    // `cancelled` as it reads, and stops when it answers true.
    bool encrypt(Services::Filesystem::Client::File& from, int to, const std::function<bool()>& cancelled,
                 std::string& problem);

    static constexpr const char* contentType = "application/pgp-encrypted";

  private:
    struct Keys;
    explicit Encryption(std::unique_ptr<Keys> keys);
    std::unique_ptr<Keys> m_keys;
};

} // namespace Host
