// The digest and Ed25519 operations of platform/crypto.h on libgcrypt.
#include "platform/crypto.h"

#include <gcrypt.h>

#include <mutex>

namespace kvn {
namespace {

// The library wants one initialisation before any use; verification needs
// no secure memory.
void Initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

// Owns one S-expression.
struct Sexp {
    gcry_sexp_t p = nullptr;
    ~Sexp() { gcry_sexp_release(p); }
};

std::string_view AsText(const Sha512Digest& digest) {
    return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

// The data of the first sub-list named `token`, when it is exactly `size` bytes.
std::optional<std::string> Field(gcry_sexp_t list, const char* token, std::size_t size) {
    Sexp found;
    found.p = gcry_sexp_find_token(list, token, 0);
    if (!found.p) return std::nullopt;
    std::size_t length = 0;
    const char* data = gcry_sexp_nth_data(found.p, 1, &length);
    if (!data || length != size) return std::nullopt;
    return std::string(data, length);
}

bool BuildData(Sexp& data, std::string_view message) {
    return message.size() <= kEd25519LargestMessage &&
           gcry_sexp_build(&data.p, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                           static_cast<int>(message.size()), message.data()) == 0;
}

}  // namespace

Sha256Digest Sha256(std::string_view data) {
    Initialise();
    Sha256Digest digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), data.data(), data.size());
    return digest;
}

Sha512Digest Sha512(std::string_view data) {
    Initialise();
    Sha512Digest digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA512, digest.data(), data.data(), data.size());
    return digest;
}

bool VerifyFileSignature(std::string_view publicKey, std::string_view file,
                         std::string_view signature) {
    return VerifyEd25519(publicKey, AsText(Sha512(file)), signature);
}

std::optional<std::string> SignFile(std::string_view secretKey, std::string_view file) {
    return SignEd25519(secretKey, AsText(Sha512(file)));
}

bool VerifyEd25519(std::string_view publicKey, std::string_view message,
                   std::string_view signature) {
    if (publicKey.size() != kEd25519KeySize || signature.size() != kEd25519SignatureSize)
        return false;
    // The library ends the process (an assertion in its field arithmetic)
    // on a key whose y coordinate has its top 64 bits clear, such as "AAAA...A=".
    // No generated key is one (odds 2^-63), so such a key verifies nothing.
    bool highBits = (publicKey[31] & 0x7f) != 0;
    for (std::size_t i = 24; i < 31; ++i) highBits = highBits || publicKey[i] != 0;
    if (!highBits) return false;
    Initialise();
    Sexp key, sig, data;
    if (gcry_sexp_build(&key.p, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        static_cast<int>(publicKey.size()), publicKey.data()) != 0)
        return false;
    if (gcry_sexp_build(&sig.p, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(),
                        32, signature.data() + 32) != 0)
        return false;
    if (!BuildData(data, message)) return false;
    return gcry_pk_verify(sig.p, data.p, key.p) == 0;
}

std::optional<Ed25519KeyPair> GenerateEd25519() {
    Initialise();
    Sexp params, pair;
    if (gcry_sexp_build(&params.p, nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))") != 0 ||
        gcry_pk_genkey(&pair.p, params.p) != 0)
        return std::nullopt;
    Sexp secret;
    secret.p = gcry_sexp_find_token(pair.p, "private-key", 0);
    if (!secret.p) return std::nullopt;
    auto d = Field(secret.p, "d", kEd25519KeySize);
    if (!d) return std::nullopt;
    auto q = Ed25519PublicKeyOf(*d);
    if (!q) return std::nullopt;
    return Ed25519KeyPair{*d, *q};
}

std::optional<std::string> Ed25519PublicKeyOf(std::string_view secretKey) {
    if (secretKey.size() != kEd25519KeySize) return std::nullopt;
    Initialise();
    // The library derives the public point from the seed when it is left
    // out of the key.
    Sexp key;
    if (gcry_sexp_build(&key.p, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                        static_cast<int>(secretKey.size()), secretKey.data()) != 0)
        return std::nullopt;
    gcry_ctx_t ctx = nullptr;
    if (gcry_mpi_ec_new(&ctx, key.p, nullptr) != 0) return std::nullopt;
    std::optional<std::string> result;
    if (gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", ctx, 1)) {
        unsigned int bits = 0;
        const void* bytes = gcry_mpi_get_opaque(q, &bits);
        if (bytes && bits == kEd25519KeySize * 8)
            result = std::string(static_cast<const char*>(bytes), kEd25519KeySize);
        gcry_mpi_release(q);
    }
    gcry_ctx_release(ctx);
    return result;
}

std::optional<std::string> SignEd25519(std::string_view secretKey, std::string_view message) {
    const auto publicKey = Ed25519PublicKeyOf(secretKey);
    if (!publicKey) return std::nullopt;
    Sexp key, data, sig;
    if (gcry_sexp_build(&key.p, nullptr,
                        "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
                        static_cast<int>(publicKey->size()), publicKey->data(),
                        static_cast<int>(secretKey.size()), secretKey.data()) != 0)
        return std::nullopt;
    if (!BuildData(data, message) || gcry_pk_sign(&sig.p, data.p, key.p) != 0) return std::nullopt;
    auto r = Field(sig.p, "r", 32);
    auto s = Field(sig.p, "s", 32);
    if (!r || !s) return std::nullopt;
    return *r + *s;
}

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
int Sextet(char c) {
    for (int i = 0; i < 64; ++i)
        if (kAlphabet[i] == c) return i;
    return -1;
}
}  // namespace

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t v = 0;
        for (std::size_t j = 0; j < 3; ++j)
            v = (v << 8) | (j < n ? static_cast<std::uint8_t>(bytes[i + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j)
            out += j <= n ? kAlphabet[(v >> (18 - 6 * j)) & 63] : '=';
    }
    return out;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::size_t pad = 0;
        if (i + 4 == text.size()) pad = text[i + 3] != '=' ? 0 : text[i + 2] != '=' ? 1 : 2;
        std::uint32_t v = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const int s = j < 4 - pad ? Sextet(text[i + j]) : 0;
            if (s < 0) return std::nullopt;
            v = (v << 6) | static_cast<std::uint32_t>(s);
        }
        // Bits under the padding must be zero, so each text has one meaning.
        if ((pad == 1 && (v & 0xff)) || (pad == 2 && (v & 0xffff))) return std::nullopt;
        for (std::size_t j = 0; j < 3 - pad; ++j) out += static_cast<char>((v >> (16 - 8 * j)) & 0xff);
    }
    return out;
}

}  // namespace kvn
