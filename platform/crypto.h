// Digests and signatures for the self-update and the operator's signing
// tool. One implementation serves every build (platform/gcrypt, on
// libgcrypt); nothing here is written by hand beyond the glue.
//
// Keys and signatures are raw bytes: an Ed25519 public key and secret seed
// are 32 bytes each, a signature 64 (RFC 8032).
//
// A file's signature is the Ed25519 signature of the file's SHA-512 digest
// (64 bytes). The library keeps each datum of a message in a 16-bit length,
// so it cannot take a whole program as the message: it refuses 64 KiB
// exactly and wraps larger lengths, signing or checking only a remainder.
// The digest covers every byte of any file; VerifyEd25519 and SignEd25519
// refuse messages beyond kEd25519LargestMessage, well inside that length,
// instead of wrapping.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvn {

constexpr std::size_t kEd25519KeySize = 32;
constexpr std::size_t kEd25519SignatureSize = 64;

constexpr std::size_t kEd25519LargestMessage = 32 * 1024;

using Sha256Digest = std::array<std::uint8_t, 32>;
using Sha512Digest = std::array<std::uint8_t, 64>;

Sha256Digest Sha256(std::string_view data);
Sha512Digest Sha512(std::string_view data);

// True only for a well-formed key and signature that match the message.
bool VerifyEd25519(std::string_view publicKey, std::string_view message,
                   std::string_view signature);
// The signature of a file, as the update server carries it in "<file>.sig".
bool VerifyFileSignature(std::string_view publicKey, std::string_view file,
                         std::string_view signature);

struct Ed25519KeyPair {
    std::string secretKey;  // the 32-byte seed
    std::string publicKey;
};
// A fresh key pair from the library's strong random source.
std::optional<Ed25519KeyPair> GenerateEd25519();
std::optional<std::string> Ed25519PublicKeyOf(std::string_view secretKey);
std::optional<std::string> SignEd25519(std::string_view secretKey, std::string_view message);
std::optional<std::string> SignFile(std::string_view secretKey, std::string_view file);

// Standard base64 with padding, as keys are written in the build settings.
std::string EncodeBase64(std::string_view bytes);
// nullopt for anything that is not canonical padded base64.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace kvn
