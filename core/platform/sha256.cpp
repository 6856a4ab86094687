#include "core/platform/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "core/platform/hex.h"

namespace tarnby {

struct Sha256::Context {
    EVP_MD_CTX* ctx = nullptr;
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {
    m_context->ctx = EVP_MD_CTX_new();
    if (m_context->ctx == nullptr || EVP_DigestInit_ex(m_context->ctx, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
    if (!bytes.empty()) EVP_DigestUpdate(m_context->ctx, bytes.data(), bytes.size());
}

std::string Sha256::finishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->ctx, digest, &length);
    return hex::encoded(std::string_view(reinterpret_cast<const char*>(digest), length));
}

std::string Sha256::hex(std::string_view bytes) {
    Sha256 sha;
    sha.update(bytes);
    return sha.finishHex();
}

}  // namespace tarnby
