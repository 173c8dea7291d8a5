// The operator's signing tool: makes the Ed25519 key pair whose public half
// the launcher is built with, and signs the files of the download server.
//
//   kvn_sign keygen SECRET_FILE         new key pair; the secret goes to SECRET_FILE
//   kvn_sign public SECRET_FILE         the public key of a secret
//   kvn_sign sign SECRET_FILE FILE...   writes FILE.sig beside each file (all or none)
//   kvn_sign verify PUBLIC_KEY FILE...  checks each FILE against FILE.sig
//   kvn_sign release [--expires DAYS] [--server URL] [--raise-client-minimum] SECRET_FILE DIR
//       fills in DIR/LoginExeVersionInfo.ini from the Login.exe and
//       LauncherDlg.bmp beside it (their digests and sizes; with --expires,
//       the time after which launchers refuse the record), signs the three
//       files, judges them as launchers will and only then replaces the
//       record and the signatures, all of them or none. It refuses a
//       record whose VersionNumber is above the one the deployed download
//       server serves (--server URL, else KORVANE_DOWNLOAD as launchers
//       read it, else the build's download server), or when that record
//       cannot be read, unless --raise-client-minimum is given (then the
//       server is not asked)
//   kvn_sign check URL PUBLIC_KEY...
//       fetches a download server's three files and their signatures (URL
//       is the server's base) and says for each whether launchers that
//       trust the keys would take it, and if not why
//
// A PUBLIC_KEY argument may list several keys separated by commas, as the
// build setting does. Exit code: 0 when all is well, 1 when a file is
// refused or a step failed, 2 for a wrong command line.
//
// A signature is the 64-byte Ed25519 signature of the file's SHA-512 digest
// (platform/crypto.h). The public key is printed as the build setting it
// goes into: -DKVN_UPDATE_PUBLIC_KEY=<base64>.
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/crypto.h"
#include "tools/release_files.h"
#include "tools/release_record.h"
#include "tools/site_check.h"
#include "tools/site_fetch.h"
#include "update/complete_files.h"
#include "update/update_rules.h"

#ifndef KVN_DEFAULT_DOWNLOAD
#define KVN_DEFAULT_DOWNLOAD "http://download.korvane.net"
#endif

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

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Keys as the build setting writes them, the setting's name allowed in front.
std::optional<std::vector<std::string>> ParseKeys(const std::vector<std::string>& texts) {
    std::vector<std::string> keys;
    for (std::string text : texts) {
        const std::string prefix = "-DKVN_UPDATE_PUBLIC_KEY=";
        if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
        const auto parsed = kvn::ParseKeyList(text);
        if (!parsed || parsed->empty()) {
            std::cerr << "kvn_sign: not a public key: " << text << "\n";
            return std::nullopt;
        }
        keys.insert(keys.end(), parsed->begin(), parsed->end());
    }
    return keys;
}

// A file of a local folder, read as launchers would fetch it from a server
// that sends it whole: within the same limit, refused with the same reason.
kvn::tools::Fetched ReadLocal(const std::string& path, kvn::tools::FetchLimit limit) {
    kvn::tools::Fetched f;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        f.reason = kvn::kReasonFetch;
        f.problem = "cannot read " + path;
        return f;
    }
    f = kvn::tools::JudgeWholeFile(size, limit, path);
    if (!f.ok) return f;
    const auto data = ReadAll(path);
    if (!data) {
        f.ok = false;
        f.reason = kvn::kReasonFetch;
        f.problem = "cannot read " + path;
        return f;
    }
    f.body = *data;
    return f;
}

// ---------------------------------------------------------------- release

struct ReleaseOptions {
    long long expiresDays = 0;
    std::string server;  // the deployed download server's base; empty: as launchers find it
    bool raiseClientMinimum = false;
};

// The download server launchers of this build ask: KORVANE_DOWNLOAD when
// set, else the build's default.
std::string DeployedServer(const std::string& given) {
    std::string base = given;
    if (base.empty()) {
        const char* env = std::getenv("KORVANE_DOWNLOAD");
        base = env && *env ? env : KVN_DEFAULT_DOWNLOAD;
    }
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

// The one slip that would send every player through the uninstall: a
// VersionNumber above the one players have now. Refused unless asked for;
// asked for, the server is not asked at all (a first release has none).
bool ClientMinimumAllowed(const kvn::VersionRecord& fresh, const ReleaseOptions& options) {
    if (options.raiseClientMinimum) {
        std::cout << "VersionNumber " << fresh.required
                  << " (--raise-client-minimum: not compared with the deployed server's)\n";
        return true;
    }
    const std::string url = DeployedServer(options.server) + "/download/LoginExeVersionInfo.ini";
    const auto deployed = kvn::tools::FetchUrl(url, {kvn::kMaxRecordBytes, false});
    if (!deployed.ok) {
        std::cerr << "kvn_sign: cannot read the record the download server serves (" << url << ": "
                  << deployed.problem << "), so cannot tell whether VersionNumber " << fresh.required
                  << " raises the oldest client players may keep. Nothing was written.\n"
                     "Name the deployed server with --server URL; for a first release, or one meant to "
                     "raise that minimum, add --raise-client-minimum.\n";
        return false;
    }
    const std::int32_t served = kvn::ParseVersionRecord(deployed.body).required;
    if (fresh.required <= served) {
        std::cout << "VersionNumber " << fresh.required << " (the deployed record " << url << " has "
                  << served << ")\n";
        return true;
    }
    std::cerr << "kvn_sign: VersionNumber " << fresh.required << " is above the " << served << " that " << url
              << " serves: launchers would tell every player whose client is older than " << fresh.required
              << " to uninstall it, at every start, until the client is reinstalled. Nothing was written.\n"
                 "If this release means to raise the oldest usable client, run again with "
                 "--raise-client-minimum.\n";
    return false;
}

int Release(const std::string& secretPath, const std::string& dir, const ReleaseOptions& options) {
    const auto secret = ReadSecret(secretPath);
    if (!secret) return 1;
    const std::string recordPath = dir + "/LoginExeVersionInfo.ini";
    const std::string bitmapPath = dir + "/LauncherDlg.bmp";
    const std::string launcherPath = dir + "/Login.exe";
    // Each file within the ceiling launchers hold it to.
    const auto record = ReadLocal(recordPath, {kvn::kMaxRecordBytes, false});
    const auto bitmap = ReadLocal(bitmapPath, {kvn::kMaxBackgroundBytes, false});
    const auto launcher = ReadLocal(launcherPath, {kvn::kLargestByteCount, false});
    for (const auto* f : {&record, &bitmap, &launcher})
        if (!f->ok) {
            std::cerr << "kvn_sign: " << f->problem << "\n";
            return 1;
        }
    // Nothing is signed that launchers would refuse whatever the record.
    if (!kvn::IsUsableBackground(bitmap.body)) {
        std::cerr << "kvn_sign: " << bitmapPath << " is not a whole bitmap of at least "
                  << kvn::kWindowWidth << " x " << kvn::kWindowHeight << " pixels\n";
        return 1;
    }
    if (!kvn::IsCompleteProgram(launcher.body, kvn::ProgramKind::WindowsGuiX64) &&
        !kvn::IsCompleteProgram(launcher.body, kvn::ProgramKind::Elf)) {
        std::cerr << "kvn_sign: " << launcherPath
                  << " is not a whole program (x86-64 Windows GUI, or ELF of this machine)\n";
        return 1;
    }
    std::vector<std::pair<std::string, std::string>> values = {
        {kvn::kLauncherDigestKey, kvn::Sha256Hex(kvn::Sha256(launcher.body))},
        {kvn::kLauncherSizeKey, std::to_string(launcher.body.size())},
        {kvn::kBackgroundDigestKey, kvn::Sha256Hex(kvn::Sha256(bitmap.body))},
        {kvn::kBackgroundSizeKey, std::to_string(bitmap.body.size())},
    };
    if (options.expiresDays > 0)
        values.emplace_back(kvn::kExpiresKey, kvn::FormatUtcTime(Now() + options.expiresDays * 86400));
    std::string error;
    const auto filled = kvn::tools::FillRecord(record.body, values, error);
    if (!filled) {
        std::cerr << "kvn_sign: " << recordPath << ": " << error << "\n";
        return 1;
    }
    if (filled->size() > kvn::kMaxRecordBytes) {
        std::cerr << "kvn_sign: " << recordPath << " would be larger than " << kvn::kMaxRecordBytes
                  << " bytes, more than launchers read\n";
        return 1;
    }
    if (!ClientMinimumAllowed(kvn::ParseVersionRecord(*filled), options)) return 1;

    // The new folder in memory: the filled record and the three signatures.
    std::map<std::string, std::string> folder = {{"LoginExeVersionInfo.ini", *filled},
                                                 {"LauncherDlg.bmp", bitmap.body},
                                                 {"Login.exe", launcher.body}};
    for (const char* name : {"LoginExeVersionInfo.ini", "LauncherDlg.bmp", "Login.exe"}) {
        const auto signature = kvn::SignFile(*secret, folder[name]);
        if (!signature) {
            std::cerr << "kvn_sign: cannot sign " << dir << "/" << name << "; nothing was written\n";
            return 1;
        }
        folder[std::string(name) + ".sig"] = *signature;
    }
    // Judged as launchers that trust this key will judge it, before any of
    // it is written.
    const auto publicKey = *kvn::Ed25519PublicKeyOf(*secret);
    const auto verdicts = kvn::tools::CheckSite(
        [&](const std::string& name, kvn::tools::FetchLimit limit) {
            const auto found = folder.find(name);
            kvn::tools::Fetched f;
            if (found == folder.end()) return f;
            f = kvn::tools::JudgeWholeFile(found->second.size(), limit, dir + "/" + name);
            if (f.ok) f.body = found->second;
            return f;
        },
        {publicKey}, Now());
    for (const auto& v : verdicts)
        if (!v.taken) {
            std::cout << kvn::tools::Report(verdicts);
            std::cerr << "kvn_sign: launchers would refuse " << v.file << "; nothing was written\n";
            return 1;
        }
    // All of it or none.
    std::vector<kvn::tools::NewFile> files;
    if (*filled != record.body) files.push_back({recordPath, *filled});
    for (const std::string& path : {recordPath, bitmapPath, launcherPath})
        files.push_back({path + ".sig", folder[path.substr(dir.size() + 1) + ".sig"]});
    if (!kvn::tools::ReplaceAll(files, error)) {
        std::cerr << "kvn_sign: " << error << "\n";
        return 1;
    }
    std::cout << recordPath << ":\n";
    for (const auto& [key, value] : values) std::cout << "  " << key << "=" << value << "\n";
    std::cout << kvn::tools::Report(verdicts);
    PrintPublic(publicKey);
    return 0;
}

int Usage() {
    std::cerr << "usage: kvn_sign keygen SECRET_FILE\n"
                 "       kvn_sign public SECRET_FILE\n"
                 "       kvn_sign sign SECRET_FILE FILE...\n"
                 "       kvn_sign verify PUBLIC_KEY FILE...\n"
                 "       kvn_sign release [--expires DAYS] [--server URL] [--raise-client-minimum] SECRET_FILE DIR\n"
                 "       kvn_sign check URL PUBLIC_KEY...\n";
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
        // The signatures of all the files, or none.
        std::vector<kvn::tools::NewFile> signatures;
        for (int i = 3; i < argc; ++i) {
            const std::string path = argv[i];
            const auto data = ReadAll(path);
            const auto signature = data ? kvn::SignFile(*secret, *data) : std::nullopt;
            if (!signature) {
                std::cerr << "kvn_sign: cannot sign " << path << "; nothing was written\n";
                return 1;
            }
            signatures.push_back({path + ".sig", *signature});
        }
        std::string error;
        if (!kvn::tools::ReplaceAll(signatures, error)) {
            std::cerr << "kvn_sign: " << error << "\n";
            return 1;
        }
        for (const auto& signature : signatures)
            std::cout << "signed " << signature.path.substr(0, signature.path.size() - 4) << " -> " << signature.path
                      << "\n";
        PrintPublic(*kvn::Ed25519PublicKeyOf(*secret));
        return 0;
    }
    if (command == "verify" && argc >= 4) {
        const auto keys = ParseKeys({argv[2]});
        if (!keys) return 2;
        int bad = 0;
        for (int i = 3; i < argc; ++i) {
            const std::string path = argv[i];
            const auto data = ReadAll(path);
            const auto signature = ReadAll(path + ".sig");
            const bool good = data && signature && kvn::VerifyWithAnyKey(*keys, *data, *signature);
            std::cout << (good ? "good " : "BAD ") << path << "\n";
            bad += good ? 0 : 1;
        }
        return bad == 0 ? 0 : 1;
    }
    if (command == "release") {
        ReleaseOptions options;
        std::vector<std::string> rest;
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--expires" && i + 1 < argc && options.expiresDays == 0) {
                const std::string text = argv[++i];
                long long days = 0;
                try {
                    std::size_t used = 0;
                    days = std::stoll(text, &used);
                    if (used != text.size()) days = 0;
                } catch (const std::exception&) {
                    days = 0;
                }
                if (days < 1 || days > 36500) {
                    std::cerr << "kvn_sign: --expires takes a number of days from 1 to 36500\n";
                    return 2;
                }
                options.expiresDays = days;
            } else if (arg == "--server" && i + 1 < argc && options.server.empty()) {
                options.server = argv[++i];
                if (options.server.rfind("http://", 0) != 0 && options.server.rfind("https://", 0) != 0) {
                    std::cerr << "kvn_sign: --server takes the download server's base address, http://...\n";
                    return 2;
                }
            } else if (arg == "--raise-client-minimum") {
                options.raiseClientMinimum = true;
            } else if (arg.rfind("--", 0) == 0) {
                return Usage();
            } else {
                rest.push_back(arg);
            }
        }
        if (rest.size() != 2) return Usage();
        curl_global_init(CURL_GLOBAL_DEFAULT);
        const int result = Release(rest[0], rest[1], options);
        curl_global_cleanup();
        return result;
    }
    if (command == "check" && argc >= 4) {
        std::string base = argv[2];
        while (!base.empty() && base.back() == '/') base.pop_back();
        const auto keys = ParseKeys(std::vector<std::string>(argv + 3, argv + argc));
        if (!keys) return 2;
        curl_global_init(CURL_GLOBAL_DEFAULT);
        const auto verdicts = kvn::tools::CheckSite(
            [&](const std::string& name, kvn::tools::FetchLimit limit) {
                return kvn::tools::FetchUrl(base + "/download/" + name, limit);
            },
            *keys, Now());
        curl_global_cleanup();
        std::cout << kvn::tools::Report(verdicts);
        for (const auto& v : verdicts)
            if (!v.taken) return 1;
        return 0;
    }
    return Usage();
}
