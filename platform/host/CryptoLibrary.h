#pragma once
// libcrypto, loaded with libcurl when the remote store is first used: the hashes and the HMAC that
// request signing and body checksums need. Other modes never map it.
#include <cstdint>
#include <string>
#include <string_view>

namespace Libraries::Tarnhold::Remote {

class Crypto {
  public:
    // The library, loaded once; null when it cannot be, with the reason in `problem`.
    static const Crypto* get(std::string* problem = nullptr);

    std::string sha256(std::string_view data) const;
    std::string hmacSha256(std::string_view key, std::string_view data) const;
    std::string base64(std::string_view bytes) const;

    // An MD5 computed over data given in pieces.
    class Md5 {
      public:
        explicit Md5(const Crypto& crypto);
        ~Md5();
        Md5(const Md5&) = delete;
        Md5& operator=(const Md5&) = delete;
        void update(const void* data, size_t length);
        std::string finish(); // the 16 bytes of the digest

      private:
        const Crypto& m_crypto;
        void* m_context;
    };

    struct Functions;
    explicit Crypto(const Functions& functions) : m_functions(functions) {}

  private:
    const Functions& m_functions;
};

// Lower-case hexadecimal of bytes, as signatures and ETags spell them.
std::string toHex(std::string_view bytes);

} // namespace Libraries::Tarnhold::Remote
