#include "Encryption.h"
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <gpgme.h>
#include <mutex>
#include <sys/stat.h>

namespace Host {
namespace {

using Services::Filesystem::Client::File;

// GPGME is set up once per process before its first context.
bool gpgmeReady(std::string& problem) {
    static std::once_flag once;
    static bool ready = false;
    static std::string why;
    std::call_once(once, [] {
        // gpg is found on the PATH and finds its own home: asking gpgconf where the GnuPG programs
        // and directories are first costs two more processes and half of the set-up's time.
        gpgme_set_global_flag("disable-gpgconf", "1");
        gpgme_check_version(nullptr);
        gpgme_error_t error = gpgme_engine_check_version(GPGME_PROTOCOL_OpenPGP);
        ready = error == 0;
        if (!ready)
            why = std::string("GnuPG, which encrypts the uploads, cannot be used (") + gpgme_strerror(error) +
                  "); install it: apt-get install gpg";
    });
    problem = why;
    return ready;
}

// A fingerprint as gpg takes it: hexadecimal digits, without spaces or "0x"; empty when `text` is
// not one (40 digits for v4 keys, 64 for v5).
std::string fingerprint(const std::string& text) {
    std::string digits;
    for (size_t i = text.rfind("0x", 0) == 0 ? 2 : 0; i < text.size(); i++) {
        char c = text[i];
        if (c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    constexpr size_t v4Digits = 40, v5Digits = 64;
    return digits.size() == v4Digits || digits.size() == v5Digits ? digits : std::string();
}

bool isFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The recipients as GPGME takes them: a line each, key files after "--file".
bool recipientLines(const std::vector<std::string>& recipients, std::string& lines, std::string& problem) {
    std::string keys, files;
    for (const std::string& recipient : recipients) {
        std::string digits = fingerprint(recipient);
        if (!digits.empty())
            keys += digits + "\n";
        else if (isFile(recipient))
            files += recipient + "\n";
        else {
            problem =
                "the recipient \"" + recipient +
                "\" is neither a key's fingerprint (40 hexadecimal digits) nor a file holding a public key";
            return false;
        }
    }
    lines = "--no-file\n" + keys + "--file\n" + files;
    return true;
}

constexpr const char* ioBufferSize = "262144";

// A platform file read for GPGME, from where it stands; a failed read is an error, not its end.
struct Reading {
    File& file;
    const std::function<bool()>& cancelled;
    bool failed = false, stopped = false;
};

ssize_t readFromFile(void* handle, void* buffer, size_t size) {
    auto& reading = *static_cast<Reading*>(handle);
    if (reading.cancelled()) {
        reading.stopped = true;
        errno = ECANCELED;
        return -1;
    }
    Error::set(0);
    size_t n = reading.file.readBytes(buffer, size);
    unsigned code = Error::get();
    if (n == 0 && code != 0 && code != Errors::EndOfFile) {
        reading.failed = true;
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(n);
}

// Why gpg refused the recipients: each that it could not use, with its reason.
std::string refusedRecipients(gpgme_ctx_t context, gpgme_error_t error) {
    std::string reasons;
    if (gpgme_encrypt_result_t result = gpgme_op_encrypt_result(context))
        for (gpgme_invalid_key_t key = result->invalid_recipients; key; key = key->next)
            reasons +=
                std::string(reasons.empty() ? "" : "; ") + "the key " + (key->fpr ? key->fpr : "?") +
                " cannot be used: " +
                // gpg gives no reason of its own for a file that holds no key.
                (gpgme_err_code(key->reason) == GPG_ERR_GENERAL ? std::string("no usable public key there")
                                                                : gpgme_strerror(key->reason));
    return reasons.empty() ? std::string("gpg refused to encrypt: ") + gpgme_strerror(error) : reasons;
}

constexpr gpgme_encrypt_flags_t encryptFlags = static_cast<gpgme_encrypt_flags_t>(
    // The user named these keys: no web of trust is asked about them. What is sent is compressed
    // already, or the user's own bytes.
    GPGME_ENCRYPT_ALWAYS_TRUST | GPGME_ENCRYPT_NO_COMPRESS);

} // namespace

struct Encryption::Keys {
    gpgme_ctx_t context = nullptr;
    std::string recipients;
    ~Keys() {
        if (context) gpgme_release(context);
    }
};

Encryption::Encryption(std::unique_ptr<Keys> keys) : m_keys(std::move(keys)) {}

Encryption::~Encryption() = default;

std::unique_ptr<Encryption> Encryption::forRecipients(const std::vector<std::string>& recipients,
                                                      std::string& problem) {
    auto keys = std::make_unique<Keys>();
    if (!gpgmeReady(problem) || !recipientLines(recipients, keys->recipients, problem)) return nullptr;
    if (gpgme_error_t error = gpgme_new(&keys->context)) {
        problem = std::string("GnuPG cannot be used: ") + gpgme_strerror(error);
        return nullptr;
    }
    gpgme_set_armor(keys->context, 0);
    // A trial with nothing to encrypt: gpg checks every key (missing, expired, revoked, unable to
    // encrypt) before the first byte of the upload is read.
    gpgme_data_t empty = nullptr, discarded = nullptr;
    gpgme_error_t error = gpgme_data_new_from_mem(&empty, "", 0, 0);
    if (!error) error = gpgme_data_new(&discarded);
    if (!error)
        error = gpgme_op_encrypt_ext(keys->context, nullptr, keys->recipients.c_str(), encryptFlags, empty,
                                     discarded);
    if (error) problem = refusedRecipients(keys->context, error);
    gpgme_data_release(empty);
    gpgme_data_release(discarded);
    if (error) return nullptr;
    return std::unique_ptr<Encryption>(new Encryption(std::move(keys)));
}

bool Encryption::encrypt(File& from, int to, const std::function<bool()>& cancelled, std::string& problem) {
    gpgme_data_cbs callbacks{readFromFile, nullptr, nullptr, nullptr};
    Reading reading{from, cancelled};
    gpgme_data_t plain = nullptr, cipher = nullptr;
    gpgme_error_t error = gpgme_data_new_from_cbs(&plain, &callbacks, &reading);
    if (!error) error = gpgme_data_new_from_fd(&cipher, to);
    // Larger reads and writes than GPGME's 4 KiB default: the message passes through it in a few
    // hundred steps instead of a thousand round trips of the pipes to gpg.
    for (gpgme_data_t data : {plain, cipher})
        if (!error) error = gpgme_data_set_flag(data, "io-buffer-size", ioBufferSize);
    if (!error)
        error = gpgme_op_encrypt_ext(m_keys->context, nullptr, m_keys->recipients.c_str(), encryptFlags,
                                     plain, cipher);
    if (reading.stopped)
        problem = "cancelled";
    else if (reading.failed)
        problem = "the file to send could not be read";
    else if (error)
        problem = refusedRecipients(m_keys->context, error);
    gpgme_data_release(plain);
    gpgme_data_release(cipher);
    return error == 0 && !reading.failed && !reading.stopped;
}

} // namespace Host
