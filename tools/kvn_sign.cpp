// The operator's signing tool: makes the Ed25519 key pair whose public half
// the launcher is built with, and signs the files of the download server.
//
//   kvn_sign keygen SECRET_FILE         new key pair; the secret goes to SECRET_FILE
//   kvn_sign public SECRET_FILE         the public key of a secret
//   kvn_sign sign SECRET_FILE FILE...   writes FILE.sig beside each file
//   kvn_sign verify PUBLIC_KEY FILE...  checks each FILE against FILE.sig
//   kvn_sign release [--expires DAYS] SECRET_FILE DIR
//       fills in DIR/LoginExeVersionInfo.ini from the Login.exe and
//       LauncherDlg.bmp beside it (their digests and sizes; with --expires,
//       the time after which launchers refuse the record), signs the three
//       files and checks them as launchers will
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

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/crypto.h"
#include "tools/release_record.h"
#include "tools/site_check.h"
#include "update/complete_files.h"
#include "update/update_rules.h"

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

// Written beside the file and moved over it: the old file stays whole
// until the new one is.
bool ReplaceFile(const std::string& path, const std::string& data) {
    const std::string temporary = path + ".new";
    std::error_code ec;
    if (!WriteAll(temporary, data) || (std::filesystem::rename(temporary, path, ec), ec)) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
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

// A file of a local folder, read as launchers read it from the server: not
// beyond the ceiling.
kvn::tools::Fetched ReadLocal(const std::string& path, std::uint32_t ceiling) {
    kvn::tools::Fetched f;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        f.problem = "cannot read " + path;
        return f;
    }
    if (size > ceiling) {
        f.problem = std::to_string(size) + " bytes, above the ceiling of " + std::to_string(ceiling);
        f.overCeiling = true;
        return f;
    }
    const auto data = ReadAll(path);
    if (!data) {
        f.problem = "cannot read " + path;
        return f;
    }
    f.ok = true;
    f.body = *data;
    return f;
}

// ---------------------------------------------------------------- fetch

struct Transfer {
    std::string body;
    std::uint32_t ceiling = 0;
    bool overCeiling = false;
    std::optional<std::uint64_t> contentLength;
};

std::size_t OnBody(char* data, std::size_t, std::size_t n, void* p) {
    auto* t = static_cast<Transfer*>(p);
    if (n > t->ceiling - t->body.size()) {
        t->overCeiling = true;
        return 0;  // ends the transfer
    }
    t->body.append(data, n);
    return n;
}

std::size_t OnHeader(char* data, std::size_t, std::size_t n, void* p) {
    auto* t = static_cast<Transfer*>(p);
    std::string line(data, n);
    const std::string name = "content-length:";
    if (line.size() > name.size()) {
        std::string head = line.substr(0, name.size());
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (head == name) {
            std::uint64_t v = 0;
            bool digits = false;
            for (std::size_t i = name.size(); i < line.size(); ++i) {
                const char c = line[i];
                if (c >= '0' && c <= '9') {
                    v = std::min<std::uint64_t>(v * 10 + static_cast<std::uint64_t>(c - '0'), 1ull << 62);
                    digits = true;
                } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
                    digits = false;
                    break;
                }
            }
            if (digits) t->contentLength = v;
        }
    }
    return n;
}

// One GET as the launcher makes it (HTTP/1.0, User-Agent "KVN", no cache,
// no redirects, the same time-outs), with the body bounded by the ceiling.
kvn::tools::Fetched FetchUrl(const std::string& url, std::uint32_t ceiling) {
    kvn::tools::Fetched f;
    Transfer t;
    t.ceiling = ceiling;
    CURL* curl = curl_easy_init();
    if (!curl) {
        f.problem = "no HTTP session";
        return f;
    }
    curl_slist* headers = curl_slist_append(nullptr, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "KVN");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 7L);
    // Less than 1 KiB in 7 s is a stall, as for the launcher.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 147L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 7L);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(ceiling));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    const std::string limit = std::to_string(ceiling);
    if (result == CURLE_FILESIZE_EXCEEDED || (t.contentLength && *t.contentLength > ceiling && status == 200)) {
        f.overCeiling = true;
        f.problem = "Content-Length " + (t.contentLength ? std::to_string(*t.contentLength) : "?") +
                    " above the ceiling of " + limit + " bytes";
    } else if (t.overCeiling) {
        f.overCeiling = true;
        f.problem = "the body runs past the ceiling of " + limit + " bytes";
    } else if (result != CURLE_OK) {
        f.problem = std::string("fetch failed: ") + curl_easy_strerror(result);
    } else if (status != 200) {
        f.problem = "status " + std::to_string(status);
    } else if (!t.contentLength) {
        f.problem = "no Content-Length (launchers take only a body of the length announced)";
    } else if (*t.contentLength != t.body.size()) {
        f.problem = "Content-Length " + std::to_string(*t.contentLength) + " but " +
                    std::to_string(t.body.size()) + " bytes arrived";
    } else {
        f.ok = true;
        f.body = std::move(t.body);
    }
    return f;
}

// ---------------------------------------------------------------- release

int Release(const std::string& secretPath, const std::string& dir, long long expiresDays) {
    const auto secret = ReadSecret(secretPath);
    if (!secret) return 1;
    const std::string recordPath = dir + "/LoginExeVersionInfo.ini";
    const std::string bitmapPath = dir + "/LauncherDlg.bmp";
    const std::string launcherPath = dir + "/Login.exe";
    // Each file within the ceiling launchers hold it to.
    const auto record = ReadLocal(recordPath, kvn::kMaxRecordBytes);
    const auto bitmap = ReadLocal(bitmapPath, kvn::kMaxBackgroundBytes);
    const auto launcher = ReadLocal(launcherPath, kvn::kLargestByteCount);
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
    if (expiresDays > 0) values.emplace_back(kvn::kExpiresKey, kvn::FormatUtcTime(Now() + expiresDays * 86400));
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
    if (*filled != record.body && !ReplaceFile(recordPath, *filled)) {
        std::cerr << "kvn_sign: cannot write " << recordPath << "\n";
        return 1;
    }
    for (const auto& [path, data] : {std::pair{&recordPath, &*filled}, std::pair{&bitmapPath, &bitmap.body},
                                     std::pair{&launcherPath, &launcher.body}}) {
        const auto signature = kvn::SignFile(*secret, *data);
        if (!signature || !ReplaceFile(*path + ".sig", *signature)) {
            std::cerr << "kvn_sign: cannot sign " << *path << "\n";
            return 1;
        }
    }
    std::cout << recordPath << ":\n";
    for (const auto& [key, value] : values) std::cout << "  " << key << "=" << value << "\n";
    // The folder as launchers that trust this key will judge it.
    const auto publicKey = *kvn::Ed25519PublicKeyOf(*secret);
    const auto verdicts = kvn::tools::CheckSite(
        [&](const std::string& name, std::uint32_t ceiling) { return ReadLocal(dir + "/" + name, ceiling); },
        {publicKey}, Now());
    std::cout << kvn::tools::Report(verdicts);
    PrintPublic(publicKey);
    for (const auto& v : verdicts)
        if (!v.taken) return 1;
    return 0;
}

int Usage() {
    std::cerr << "usage: kvn_sign keygen SECRET_FILE\n"
                 "       kvn_sign public SECRET_FILE\n"
                 "       kvn_sign sign SECRET_FILE FILE...\n"
                 "       kvn_sign verify PUBLIC_KEY FILE...\n"
                 "       kvn_sign release [--expires DAYS] SECRET_FILE DIR\n"
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
        for (int i = 3; i < argc; ++i) {
            const std::string path = argv[i];
            const auto data = ReadAll(path);
            const auto signature = data ? kvn::SignFile(*secret, *data) : std::nullopt;
            if (!signature || !ReplaceFile(path + ".sig", *signature)) {
                std::cerr << "kvn_sign: cannot sign " << path << "\n";
                return 1;
            }
            std::cout << "signed " << path << " -> " << path << ".sig\n";
        }
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
        long long days = 0;
        std::vector<std::string> rest;
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--expires" && i + 1 < argc && days == 0) {
                const std::string text = argv[++i];
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
            } else {
                rest.push_back(arg);
            }
        }
        if (rest.size() != 2) return Usage();
        return Release(rest[0], rest[1], days);
    }
    if (command == "check" && argc >= 4) {
        std::string base = argv[2];
        while (!base.empty() && base.back() == '/') base.pop_back();
        const auto keys = ParseKeys(std::vector<std::string>(argv + 3, argv + argc));
        if (!keys) return 2;
        curl_global_init(CURL_GLOBAL_DEFAULT);
        const auto verdicts = kvn::tools::CheckSite(
            [&](const std::string& name, std::uint32_t ceiling) {
                return FetchUrl(base + "/download/" + name, ceiling);
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
