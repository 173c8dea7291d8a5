// Files, folders and INI files on the Linux file system.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/linux/internal.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"

namespace kvn::linuxp {

bool writeWhole(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool replaceWhole(const std::string& path, const std::string& data, mode_t mode) {
    std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "-" +
                      std::to_string(std::random_device{}());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = writeWhole(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ::chmod(tmp.c_str(), mode);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> readNative(const std::string& path, std::size_t maxBytes, bool head) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    if (!head && S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string out;
    if (!head && S_ISREG(st.st_mode)) out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        std::size_t want = sizeof buf;
        if (head && maxBytes - out.size() < want) want = maxBytes - out.size();
        if (want == 0) break;
        ssize_t r = ::read(fd, buf, want);
        if (r < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (r == 0) break;
        out.append(buf, static_cast<std::size_t>(r));
        if (!head && out.size() > maxBytes) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return out;
}

namespace {

class LinuxOutputFile : public OutputFile {
public:
    explicit LinuxOutputFile(int fd) : fd_(fd) {}
    ~LinuxOutputFile() override { close(); }
    std::size_t write(const char* data, std::size_t n) override {
        if (fd_ < 0) return 0;
        std::size_t done = 0;
        while (done < n) {
            ssize_t w = ::write(fd_, data + done, n - done);
            if (w < 0) {
                if (errno == EINTR) continue;
                break;
            }
            done += static_cast<std::size_t>(w);
        }
        return done;
    }
    std::uint64_t size() override {
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
        return static_cast<std::uint64_t>(st.st_size);
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// A link is reported as a link and never followed.
FileSystem::Kind kindOf(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return FileSystem::Kind::Link;
    return S_ISDIR(st.st_mode) ? FileSystem::Kind::Directory : FileSystem::Kind::File;
}

class LinuxFileSystem : public FileSystem {
public:
    Kind find(const WString& path) override {
        struct stat st {};
        if (::lstat(NativePath(path).c_str(), &st) != 0) return Kind::None;
        return kindOf(st);
    }
    bool createDirectory(const WString& path) override {
        return ::mkdir(NativePath(path).c_str(), 0755) == 0;
    }
    bool copyFile(const WString& from, const WString& to) override {
        std::string src = NativePath(from), dst = NativePath(to);
        int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return false;
        struct stat sst {}, dst_st {};
        if (::fstat(in, &sst) != 0 || S_ISDIR(sst.st_mode)) {
            ::close(in);
            return false;
        }
        // Copying a file onto itself leaves it as it is.
        if (::stat(dst.c_str(), &dst_st) == 0 && dst_st.st_dev == sst.st_dev &&
            dst_st.st_ino == sst.st_ino) {
            ::close(in);
            return true;
        }
        int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                         (sst.st_mode & 0777) | 0600);
        if (out < 0) {
            ::close(in);
            return false;
        }
        bool ok = true;
        char buf[65536];
        for (;;) {
            ssize_t r = ::read(in, buf, sizeof buf);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) { ok = false; break; }
            if (r == 0) break;
            if (!writeWhole(out, buf, static_cast<std::size_t>(r))) { ok = false; break; }
        }
        ::close(in);
        ok = ::close(out) == 0 && ok;
        ::chmod(dst.c_str(), sst.st_mode & 0777);
        return ok;
    }
    bool deleteFile(const WString& path) override {
        std::string p = NativePath(path);
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
        return ::unlink(p.c_str()) == 0;
    }
    bool removeDirectory(const WString& path) override {
        return ::rmdir(NativePath(path).c_str()) == 0;
    }
    std::optional<std::vector<DirEntry>> listDirectory(const WString& folder) override {
        std::string p = NativePath(folder);
        DIR* d = ::opendir(p.c_str());
        if (!d) return std::nullopt;
        std::vector<DirEntry> out;
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            out.push_back({EncodeName(name), kindOf(st)});
        }
        ::closedir(d);
        return out;
    }
    std::optional<Bytes> readFile(const WString& path, std::size_t maxBytes) override {
        return readNative(NativePath(path), maxBytes, false);
    }
    std::optional<Bytes> readFileHead(const WString& path, std::size_t maxBytes) override {
        return readNative(NativePath(path), maxBytes, true);
    }
    std::optional<PartialRead> readFileUntilError(const WString& path) override {
        int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd);
            return std::nullopt;
        }
        PartialRead out;
        char buf[65536];
        for (;;) {
            const ssize_t r = ::read(fd, buf, sizeof buf);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) out.complete = false;
            if (r <= 0) break;
            out.bytes.append(buf, static_cast<std::size_t>(r));
        }
        ::close(fd);
        return out;
    }
    bool isSameFile(const WString& a, const WString& b) override {
        struct stat sa {}, sb {};
        return ::stat(NativePath(a).c_str(), &sa) == 0 && ::stat(NativePath(b).c_str(), &sb) == 0 &&
               S_ISREG(sa.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    std::unique_ptr<OutputFile> createFile(const WString& path) override {
        std::string p = NativePath(path);
        int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return nullptr;
        return std::make_unique<LinuxOutputFile>(fd);
    }
    bool replaceFile(const WString& from, const WString& to) override {
        return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
    }

protected:
    bool writeWholeFile(const WString& path, const Bytes& data, FileAccess access) override {
        const std::string p = NativePath(path);
        const bool ownerOnly = access == FileAccess::OwnerOnly;
        int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, ownerOnly ? 0600 : 0666);
        if (fd < 0) return false;
        // An older file keeps its mode on open: narrow it before writing.
        if (ownerOnly && ::fchmod(fd, 0600) != 0) {
            ::close(fd);
            return false;
        }
        bool ok = writeWhole(fd, data.data(), data.size());
        return ::close(fd) == 0 && ok;
    }
};

}  // namespace

std::unique_ptr<FileSystem> makeFileSystem() { return std::make_unique<LinuxFileSystem>(); }

}  // namespace kvn::linuxp
