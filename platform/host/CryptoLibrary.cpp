#include "CryptoLibrary.h"
#include "LoadedLibrary.h"
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace Libraries::Tarnhold::Remote {

struct Crypto::Functions {
    decltype(&::EVP_MD_CTX_new) newContext;
    decltype(&::EVP_MD_CTX_free) freeContext;
    decltype(&::EVP_DigestInit_ex) digestInit;
    decltype(&::EVP_DigestUpdate) digestUpdate;
    decltype(&::EVP_DigestFinal_ex) digestFinal;
    decltype(&::EVP_Digest) digest;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_md5) md5;
    decltype(&::HMAC) hmac;
    decltype(&::EVP_EncodeBlock) encodeBlock;
};

namespace {

struct Loaded {
    Crypto::Functions functions{};
    Crypto crypto{functions};
    std::string problem;
    bool ok = false;

    Loaded() {
        static LoadedLibrary handle("libcrypto.so.3");
        ok = handle.bind(functions.newContext, "EVP_MD_CTX_new") &&
             handle.bind(functions.freeContext, "EVP_MD_CTX_free") &&
             handle.bind(functions.digestInit, "EVP_DigestInit_ex") &&
             handle.bind(functions.digestUpdate, "EVP_DigestUpdate") &&
             handle.bind(functions.digestFinal, "EVP_DigestFinal_ex") &&
             handle.bind(functions.digest, "EVP_Digest") && handle.bind(functions.sha256, "EVP_sha256") &&
             handle.bind(functions.md5, "EVP_md5") && handle.bind(functions.hmac, "HMAC") &&
             handle.bind(functions.encodeBlock, "EVP_EncodeBlock");
        problem = handle.problem();
    }
};

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

} // namespace

const Crypto* Crypto::get(std::string* problem) {
    static Loaded loaded;
    if (problem) *problem = loaded.problem;
    return loaded.ok ? &loaded.crypto : nullptr;
}

std::string Crypto::sha256(std::string_view data) const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_functions.digest(data.data(), data.size(), digest, &length, m_functions.sha256(), nullptr))
        return {};
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::string Crypto::hmacSha256(std::string_view key, std::string_view data) const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_functions.hmac(m_functions.sha256(), key.data(), static_cast<int>(key.size()), bytes(data),
                          data.size(), digest, &length))
        return {};
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::string Crypto::base64(std::string_view data) const {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int length = m_functions.encodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes(data),
                                         static_cast<int>(data.size()));
    out.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return out;
}

Crypto::Md5::Md5(const Crypto& crypto) : m_crypto(crypto), m_context(crypto.m_functions.newContext()) {
    if (m_context)
        m_crypto.m_functions.digestInit(static_cast<EVP_MD_CTX*>(m_context), m_crypto.m_functions.md5(),
                                        nullptr);
}

Crypto::Md5::~Md5() {
    m_crypto.m_functions.freeContext(static_cast<EVP_MD_CTX*>(m_context));
}

void Crypto::Md5::update(const void* data, size_t length) {
    if (m_context) m_crypto.m_functions.digestUpdate(static_cast<EVP_MD_CTX*>(m_context), data, length);
}

std::string Crypto::Md5::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_context || !m_crypto.m_functions.digestFinal(static_cast<EVP_MD_CTX*>(m_context), digest, &length))
        return {};
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::string toHex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
    return out;
}

} // namespace Libraries::Tarnhold::Remote
