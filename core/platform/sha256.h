#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tarnby {

// Incremental SHA-256, so large inputs can be hashed without being joined first.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::string_view bytes);
    // 64 lowercase hexadecimal digits. The object cannot be updated afterwards.
    std::string finishHex();

    static std::string hex(std::string_view bytes);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

}  // namespace tarnby
