// The operator's signing tool: makes the Ed25519 key pair whose public half
// the launcher is built with, and signs the files of the download server.
//
//   kvn_sign keygen SECRET_FILE         new key pair; the secret goes to SECRET_FILE
//   kvn_sign public SECRET_FILE         the public key of a secret
//   kvn_sign sign SECRET_FILE FILE...   writes FILE.sig beside each file
//   kvn_sign verify PUBLIC_KEY FILE...  checks each FILE against FILE.sig
//
// A signature is the 64-byte Ed25519 signature of the file's SHA-512 digest
// (platform/crypto.h). The public key is printed as the build setting it
// goes into: -DKVN_UPDATE_PUBLIC_KEY=<base64>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/crypto.h"

namespace {

std::optional<std::string> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}

bool WriteAll(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    return static_cast<bool>(out);
}

// The secret file holds the 32-byte seed in base64 on one line.
std::optional<std::string> ReadSecret(const std::string& path) {
    auto text = ReadAll(path);
    if (!text) {
        std::cerr << "kvn_sign: cannot read " << path << "\n";
        return std::nullopt;
    }
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r' || text->back() == ' '))
        text->pop_back();
    auto secret = kvn::DecodeBase64(*text);
    if (!secret || secret->size() != kvn::kEd25519KeySize) {
        std::cerr << "kvn_sign: " << path << " is not a secret key\n";
        return std::nullopt;
    }
    return secret;
}

void PrintPublic(const std::string& publicKey) {
    std::cout << "-DKVN_UPDATE_PUBLIC_KEY=" << kvn::EncodeBase64(publicKey) << "\n";
}

int Usage() {
    std::cerr << "usage: kvn_sign keygen SECRET_FILE\n"
                 "       kvn_sign public SECRET_FILE\n"
                 "       kvn_sign sign SECRET_FILE FILE...\n"
                 "       kvn_sign verify PUBLIC_KEY FILE...\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    if (command == "keygen" && argc == 3) {
        const std::string path = argv[2];
        if (std::filesystem::exists(path)) {
            std::cerr << "kvn_sign: " << path << " exists; not replaced\n";
            return 1;
        }
        const auto pair = kvn::GenerateEd25519();
        if (!pair) {
            std::cerr << "kvn_sign: no key pair could be made\n";
            return 1;
        }
        // Readable by its owner only, from its first byte.
        { std::ofstream touch(path, std::ios::binary); }
        std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::owner_write);
        if (!WriteAll(path, kvn::EncodeBase64(pair->secretKey) + "\n")) {
            std::cerr << "kvn_sign: cannot write " << path << "\n";
            return 1;
        }
        PrintPublic(pair->publicKey);
        return 0;
    }
    if (command == "public" && argc == 3) {
        const auto secret = ReadSecret(argv[2]);
        if (!secret) return 1;
        PrintPublic(*kvn::Ed25519PublicKeyOf(*secret));
        return 0;
    }
    if (command == "sign" && argc >= 4) {
        const auto secret = ReadSecret(argv[2]);
        if (!secret) return 1;
        for (int i = 3; i < argc; ++i) {
            const std::string path = argv[i];
            const auto data = ReadAll(path);
            const auto signature = data ? kvn::SignFile(*secret, *data) : std::nullopt;
            if (!signature || !WriteAll(path + ".sig", *signature)) {
                std::cerr << "kvn_sign: cannot sign " << path << "\n";
                return 1;
            }
            std::cout << "signed " << path << " -> " << path << ".sig\n";
        }
        PrintPublic(*kvn::Ed25519PublicKeyOf(*secret));
        return 0;
    }
    if (command == "verify" && argc >= 4) {
        std::string keyText = argv[2];
        const std::string prefix = "-DKVN_UPDATE_PUBLIC_KEY=";
        if (keyText.rfind(prefix, 0) == 0) keyText.erase(0, prefix.size());
        const auto key = kvn::DecodeBase64(keyText);
        if (!key || key->size() != kvn::kEd25519KeySize) {
            std::cerr << "kvn_sign: not a public key: " << argv[2] << "\n";
            return 2;
        }
        int bad = 0;
        for (int i = 3; i < argc; ++i) {
            const std::string path = argv[i];
            const auto data = ReadAll(path);
            const auto signature = ReadAll(path + ".sig");
            const bool good = data && signature && kvn::VerifyFileSignature(*key, *data, *signature);
            std::cout << (good ? "good " : "BAD ") << path << "\n";
            bad += good ? 0 : 1;
        }
        return bad == 0 ? 0 : 1;
    }
    return Usage();
}
