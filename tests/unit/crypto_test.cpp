// The digest and signature unit (libgcrypt) against published vectors.
#include <gtest/gtest.h>

#include "platform/crypto.h"

using namespace kvn;
using Bytes = std::string;

namespace {

std::string Unhex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

std::string Hex(const Sha256Digest& digest) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : digest) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TEST(Crypto, Sha256OfKnownTexts) {
    EXPECT_EQ(Hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Hex(Sha256(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// RFC 8032, section 7.1: secret key, public key, message, signature.
struct Vector {
    const char *secret, *publicKey, *message, *signature;
};
constexpr Vector kRfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    {"833fe62409237b9d62ec77587520911e9a759cec1d19755b7da901b96dca3d42",
     "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad9bef1177331a704"},
};

TEST(Crypto, Ed25519AgreesWithTheRfc8032Vectors) {
    for (const Vector& v : kRfc8032) {
        SCOPED_TRACE(v.publicKey);
        const std::string secret = Unhex(v.secret), publicKey = Unhex(v.publicKey);
        const std::string message = Unhex(v.message), signature = Unhex(v.signature);
        EXPECT_TRUE(VerifyEd25519(publicKey, message, signature));
        EXPECT_EQ(Ed25519PublicKeyOf(secret), publicKey);
        EXPECT_EQ(SignEd25519(secret, message), signature);  // Ed25519 is deterministic

        // Any change to the message, either half of the signature or the key fails.
        EXPECT_FALSE(VerifyEd25519(publicKey, message + "x", signature));
        if (!message.empty()) {
            std::string flipped = message;
            flipped[flipped.size() / 2] ^= 0x01;
            EXPECT_FALSE(VerifyEd25519(publicKey, flipped, signature));
        }
        for (std::size_t at : {std::size_t{0}, std::size_t{31}, std::size_t{32}, std::size_t{63}}) {
            std::string bad = signature;
            bad[at] ^= 0x20;
            EXPECT_FALSE(VerifyEd25519(publicKey, message, bad)) << "byte " << at;
        }
        std::string otherKey = publicKey;
        otherKey[5] ^= 0x01;
        EXPECT_FALSE(VerifyEd25519(otherKey, message, signature));
        // Cut or padded keys and signatures are refused, not read short.
        EXPECT_FALSE(VerifyEd25519(publicKey, message, signature.substr(0, 63)));
        EXPECT_FALSE(VerifyEd25519(publicKey, message, signature + '\0'));
        EXPECT_FALSE(VerifyEd25519(publicKey.substr(0, 31), message, signature));
        EXPECT_FALSE(VerifyEd25519("", message, signature));
    }
    // A signature made with one vector's key does not pass under another's.
    EXPECT_FALSE(VerifyEd25519(Unhex(kRfc8032[1].publicKey), Unhex(kRfc8032[0].message),
                               Unhex(kRfc8032[0].signature)));
    // Keys with a short y coordinate (all zero, the neutral point, small
    // numbers with or without the sign bit, the top 64 bits clear) verify
    // nothing and end nothing: the library alone would abort on them.
    const std::string vectorKey = Unhex(kRfc8032[0].publicKey);
    std::string shortY = vectorKey;
    for (std::size_t i = 24; i < 32; ++i) shortY[i] = 0;
    std::string shortSigned = shortY;
    shortSigned[31] = '\x80';
    for (const std::string& key : {std::string(32, '\0'), std::string("\x01") + std::string(31, '\0'),
                                   std::string("\x07") + std::string(30, '\0') + "\x80", shortY, shortSigned})
        EXPECT_FALSE(VerifyEd25519(key, Unhex(kRfc8032[0].message), Unhex(kRfc8032[0].signature)));
}

TEST(Crypto, AFreshKeyPairSignsWhatItsPublicKeyVerifies) {
    const auto pair = GenerateEd25519();
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->secretKey.size(), kEd25519KeySize);
    EXPECT_EQ(Ed25519PublicKeyOf(pair->secretKey), pair->publicKey);
    const std::string file(70000, 'k');
    const auto signature = SignFile(pair->secretKey, file);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(VerifyFileSignature(pair->publicKey, file, *signature));
    const auto another = GenerateEd25519();
    ASSERT_TRUE(another);
    EXPECT_NE(another->secretKey, pair->secretKey);
    EXPECT_FALSE(VerifyFileSignature(another->publicKey, file, *signature));
    EXPECT_EQ(SignFile("short", file), std::nullopt);
}

TEST(Crypto, FilesOfAnySizeAreSignedWhole) {
    const Bytes secret = Unhex(kRfc8032[0].secret), publicKey = Unhex(kRfc8032[0].publicKey);
    // Sizes around the library's 16-bit datum length, where a message
    // would be refused or only a remainder of it checked.
    for (std::size_t size : {std::size_t{0}, std::size_t{65535}, std::size_t{65536},
                             std::size_t{200000}, std::size_t{3} << 20}) {
        SCOPED_TRACE(size);
        Bytes file(size, '\0');
        for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<char>(i * 7 + i / 251);
        const auto signature = SignFile(secret, file);
        ASSERT_TRUE(signature);
        EXPECT_EQ(signature->size(), kEd25519SignatureSize);
        EXPECT_EQ(*signature, SignEd25519(secret, std::string_view(
                                  reinterpret_cast<const char*>(Sha512(file).data()), 64)));
        EXPECT_TRUE(VerifyFileSignature(publicKey, file, *signature));
        if (size == 0) continue;
        for (std::size_t at : {std::size_t{0}, size / 2, size - 1}) {
            Bytes changed = file;
            changed[at] ^= 0x01;
            EXPECT_FALSE(VerifyFileSignature(publicKey, changed, *signature)) << "byte " << at;
        }
        EXPECT_FALSE(VerifyFileSignature(publicKey, file.substr(0, size - 1), *signature));
    }
    // Raw messages beyond the library's reach are refused, never cut: a
    // message whose length wraps to an accepted one does not pass.
    const Bytes largest(kEd25519LargestMessage, 'm');
    EXPECT_EQ(SignEd25519(secret, largest + "m"), std::nullopt);
    const auto signature = SignEd25519(secret, largest);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(VerifyEd25519(publicKey, largest, *signature));
    EXPECT_FALSE(VerifyEd25519(publicKey, largest + Bytes(65536, 'm'), *signature));
}

TEST(Crypto, Sha512OfKnownTexts) {
    const auto hex = [](const Sha512Digest& d) {
        static const char* digits = "0123456789abcdef";
        std::string out;
        for (auto b : d) out += {digits[b >> 4], digits[b & 15]};
        return out;
    };
    EXPECT_EQ(hex(Sha512("abc")),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
}

TEST(Crypto, Base64IsStandardAndStrict) {
    const std::pair<std::string, std::string> known[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
        {Unhex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"),
         "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo="}};
    for (const auto& [bytes, text] : known) {
        EXPECT_EQ(EncodeBase64(bytes), text);
        EXPECT_EQ(DecodeBase64(text), bytes);
    }
    for (const char* bad : {"Zg", "Zg=", "Z===", "Zh==", "Zm9=", "Zm8=Zm8=", "Zm 9v", "Zm9v\n",
                            "Zm-_", "=Zm9"})
        EXPECT_EQ(DecodeBase64(bad), std::nullopt) << bad;
}

}  // namespace
