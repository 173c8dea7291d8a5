// Files and folders through the Win32 file API.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

// Owns a file handle.
class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    void reset() {
        if (valid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};

// An access list that lets the current user alone open a file, protected
// from the folder's inherited entries. Empty when the user cannot be had.
std::vector<BYTE> OwnerOnlyAcl() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    const bool haveUser = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    if (!haveUser) return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid) - sizeof(DWORD);
    std::vector<BYTE> acl(aclSize);
    auto* list = reinterpret_cast<ACL*>(acl.data());
    if (!InitializeAcl(list, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid))
        return {};
    return acl;
}

HANDLE openForReading(const WString& path) {
    return CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads up to n bytes from the file's current position.
std::optional<Bytes> readUpTo(HANDLE file, std::size_t n) {
    Bytes data;
    data.resize(n);
    std::size_t got = 0;
    while (got < n) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - got, 1 << 20));
        DWORD read = 0;
        if (!ReadFile(file, data.data() + got, chunk, &read, nullptr)) return std::nullopt;
        if (read == 0) break;
        got += read;
    }
    data.resize(got);
    return data;
}

class Win32OutputFile : public OutputFile {
public:
    explicit Win32OutputFile(HANDLE h) : file_(h) {}
    std::size_t write(const char* data, std::size_t n) override {
        if (!file_.valid()) return 0;
        std::size_t done = 0;
        while (done < n) {
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1 << 30));
            DWORD written = 0;
            if (!WriteFile(file_.get(), data + done, chunk, &written, nullptr) || written == 0)
                break;
            done += written;
        }
        return done;
    }
    std::uint64_t size() override {
        LARGE_INTEGER s{};
        if (!file_.valid() || !GetFileSizeEx(file_.get(), &s)) return 0;
        return static_cast<std::uint64_t>(s.QuadPart);
    }
    void close() override { file_.reset(); }

private:
    Handle file_;
};

// A symbolic link, a junction or any other reparse point is a link: it is
// removed as one (DeleteFileW, or RemoveDirectoryW for a folder link) and
// never walked.
FileSystem::Kind kindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileSystem::Kind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileSystem::Kind::Directory
                                                   : FileSystem::Kind::File;
}

class Win32FileSystem : public FileSystem {
public:
    Kind find(const WString& path) override {
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW(W(path), &data);
        if (h == INVALID_HANDLE_VALUE) return Kind::None;
        FindClose(h);
        return kindOf(data.dwFileAttributes);
    }
    bool createDirectory(const WString& path) override {
        return CreateDirectoryW(W(path), nullptr) != FALSE;
    }
    bool copyFile(const WString& from, const WString& to) override {
        return CopyFileW(W(from), W(to), FALSE) != FALSE;
    }
    bool deleteFile(const WString& path) override { return DeleteFileW(W(path)) != FALSE; }
    bool removeDirectory(const WString& path) override {
        return RemoveDirectoryW(W(path)) != FALSE;
    }
    std::optional<std::vector<DirEntry>> listDirectory(const WString& folder) override {
        WString pattern = folder;
        if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/') pattern += u'\\';
        pattern += u'*';
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW(W(pattern), &data);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) return std::vector<DirEntry>{};
            return std::nullopt;
        }
        std::vector<DirEntry> out;
        do {
            WString name = U(data.cFileName);
            if (name == u"." || name == u"..") continue;
            out.push_back({name, kindOf(data.dwFileAttributes)});
        } while (FindNextFileW(h, &data));
        FindClose(h);
        return out;
    }
    std::optional<Bytes> readFile(const WString& path, std::size_t maxBytes) override {
        Handle file(openForReading(path));
        if (!file.valid()) return std::nullopt;
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.get(), &size)) return std::nullopt;
        if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return std::nullopt;
        auto data = readUpTo(file.get(), static_cast<std::size_t>(size.QuadPart));
        if (!data || data->size() != static_cast<std::size_t>(size.QuadPart)) return std::nullopt;
        return data;
    }
    std::optional<Bytes> readFileHead(const WString& path, std::size_t maxBytes) override {
        Handle file(openForReading(path));
        if (!file.valid()) return std::nullopt;
        return readUpTo(file.get(), maxBytes);
    }
    std::optional<PartialRead> readFileUntilError(const WString& path) override {
        Handle file(openForReading(path));
        if (!file.valid()) return std::nullopt;
        // In the 4 KiB steps of a text stream: an error costs only the step
        // it falls in.
        PartialRead out;
        char buf[4096];
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file.get(), buf, sizeof buf, &read, nullptr)) {
                out.complete = false;
                break;
            }
            if (read == 0) break;
            out.bytes.append(buf, read);
        }
        return out;
    }
    bool isSameFile(const WString& a, const WString& b) override {
        BY_HANDLE_FILE_INFORMATION ia{}, ib{};
        auto info = [](const WString& path, BY_HANDLE_FILE_INFORMATION& i) {
            Handle file(CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            return file.valid() && GetFileInformationByHandle(file.get(), &i) &&
                   !(i.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        };
        return info(a, ia) && info(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
               ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
    }
    std::unique_ptr<OutputFile> createFile(const WString& path) override {
        HANDLE h = CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<Win32OutputFile>(h);
    }
    bool replaceFile(const WString& from, const WString& to) override {
        return MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
               FALSE;
    }

protected:
    bool writeWholeFile(const WString& path, const Bytes& data, FileAccess access) override {
        if (data.size() > 0xFFFFFFFFu) return false;
        if (access == FileAccess::Shared) {
            Handle file(CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
            return file.valid() && writeAll(file.get(), data);
        }
        // Owner only: the access list is set, on a new file as on an older
        // one, before anything is cut or written; an older file whose list
        // cannot be narrowed is left as it was.
        std::vector<BYTE> acl = OwnerOnlyAcl();
        if (acl.empty()) return false;
        auto* list = reinterpret_cast<ACL*>(acl.data());
        SECURITY_DESCRIPTOR descriptor;
        if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return false;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
        Handle file(CreateFileW(W(path), GENERIC_WRITE | WRITE_DAC, 0, &attributes, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return false;
        if (!SetKernelObjectSecurity(file.get(),
                                     DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                     &descriptor))
            return false;
        return SetEndOfFile(file.get()) && writeAll(file.get(), data);
    }

private:
    static bool writeAll(HANDLE file, const Bytes& data) {
        DWORD written = 0;
        const BOOL ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
        return ok && written == data.size();
    }
};

}  // namespace

std::unique_ptr<FileSystem> makeFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace kvn::win32
