#include "tests/fake/fake_platform.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/text.h"
#include "res/resource.h"
#include "res/templates.h"

namespace kvn::fake {

// ------------------------------------------------------------ file system

namespace {
char16_t lowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + 32 : c; }
}  // namespace

FakeFileSystem::FakeFileSystem(std::function<WString()> currentDirectory)
    : currentDirectory_(std::move(currentDirectory)) {}

WString FakeFileSystem::canonical(const WString& path) {
    WString p = path;
    std::replace(p.begin(), p.end(), u'/', u'\\');
    WString cur = currentDirectory_ ? currentDirectory_() : WString(u"C:\\");
    std::replace(cur.begin(), cur.end(), u'/', u'\\');
    if (p.size() >= 2 && p[1] == u':') {
        // absolute with drive
    } else if (!p.empty() && p[0] == u'\\') {
        p = cur.substr(0, 2) + p;  // root of the current drive
    } else {
        p = cur + u"\\" + p;
    }
    WString out;
    for (char16_t c : p) {
        if (c == u'\\' && !out.empty() && out.back() == u'\\') continue;
        out += c;
    }
    // Resolve "." and ".." segments.
    std::vector<WString> parts;
    std::size_t start = 0;
    while (start <= out.size()) {
        auto end = out.find(u'\\', start);
        if (end == WString::npos) end = out.size();
        WString part = out.substr(start, end - start);
        if (part == u"..") {
            if (parts.size() > 1) parts.pop_back();
        } else if (part != u"." && !part.empty()) {
            parts.push_back(part);
        }
        start = end + 1;
    }
    WString result;
    for (std::size_t i = 0; i < parts.size(); ++i) result += (i ? u"\\" : u"") + parts[i];
    if (parts.size() == 1) result += u"\\";  // drive root "C:\"
    std::lock_guard lock(mutex_);
    return followLinks(result, false);
}

WString FakeFileSystem::followLinks(const WString& c, bool last) {
    WString path = c;
    for (int hops = 0; hops < 40; ++hops) {
        bool followed = false;
        for (std::size_t at = 3; at <= path.size(); ++at) {
            if (at < path.size() && path[at] != u'\\') continue;
            if (at == path.size() && !last) break;
            auto it = nodes_.find(key(path.substr(0, at)));
            if (it != nodes_.end() && it->second.isLink) {
                path = it->second.target + path.substr(at);
                followed = true;
                break;
            }
        }
        if (!followed) return path;
    }
    return path;
}

void FakeFileSystem::link(const WString& path, const WString& target, bool toFolder) {
    std::lock_guard lock(mutex_);
    const WString c = canonical(path);
    const WString parent = parentOf(c);
    if (!parent.empty()) mkdirs(parent);
    Node node{toFolder, {}, c};
    node.isLink = true;
    node.target = canonical(target);
    nodes_[key(c)] = node;
}

WString FakeFileSystem::key(const WString& canonicalPath) {
    WString k = canonicalPath;
    std::transform(k.begin(), k.end(), k.begin(), lowerAscii);
    return k;
}

WString FakeFileSystem::parentOf(const WString& canonicalPath) {
    const auto slash = canonicalPath.rfind(u'\\');
    if (slash == WString::npos || slash + 1 == canonicalPath.size()) return {};
    if (slash == 2) return canonicalPath.substr(0, 3);
    return canonicalPath.substr(0, slash);
}

bool FakeFileSystem::canCreateIn(const WString& c) {
    const WString parent = parentOf(c);
    if (parent.empty()) return false;
    auto it = nodes_.find(key(parent));
    if (it == nodes_.end() || !it->second.isDirectory) return false;
    return !readOnly_.count(key(parent));
}

void FakeFileSystem::addDrive(char16_t letter) {
    std::lock_guard lock(mutex_);
    const WString root = WString(1, letter) + u":\\";
    nodes_[key(root)] = Node{true, {}, root};
}

void FakeFileSystem::mkdirs(const WString& path) {
    std::lock_guard lock(mutex_);
    const WString c = canonical(path);
    std::size_t at = 3;
    while (at <= c.size()) {
        auto end = c.find(u'\\', at);
        if (end == WString::npos) end = c.size();
        const WString prefix = c.substr(0, end);
        auto& node = nodes_[key(prefix)];
        node.isDirectory = true;
        node.displayName = prefix;
        at = end + 1;
    }
}

void FakeFileSystem::put(const WString& path, const Bytes& data) {
    std::lock_guard lock(mutex_);
    const WString c = canonical(path);
    const WString parent = parentOf(c);
    if (!parent.empty()) mkdirs(parent);
    nodes_[key(c)] = Node{false, data, c};
}

std::optional<Bytes> FakeFileSystem::get(const WString& path) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(key(canonical(path)));
    if (it == nodes_.end() || it->second.isDirectory) return std::nullopt;
    return it->second.data;
}

void FakeFileSystem::setReadOnlyFolder(const WString& folder) {
    std::lock_guard lock(mutex_);
    readOnly_.insert(key(canonical(folder)));
}

std::vector<WString> FakeFileSystem::filesUnder(const WString& folder) {
    std::lock_guard lock(mutex_);
    const WString prefix = key(canonical(folder)) + u"\\";
    std::vector<WString> out;
    for (auto& [k, node] : nodes_)
        if (!node.isDirectory && k.rfind(prefix, 0) == 0) out.push_back(node.displayName);
    return out;
}

FileSystem::Kind FakeFileSystem::find(const WString& path) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(key(canonical(path)));
    if (it == nodes_.end()) return Kind::None;
    if (it->second.isLink) return Kind::Link;
    return it->second.isDirectory ? Kind::Directory : Kind::File;
}

bool FakeFileSystem::createDirectory(const WString& path) {
    std::lock_guard lock(mutex_);
    const WString c = canonical(path);
    if (nodes_.count(key(c)) || !canCreateIn(c)) return false;
    nodes_[key(c)] = Node{true, {}, c};
    return true;
}

bool FakeFileSystem::copyFile(const WString& from, const WString& to) {
    std::lock_guard lock(mutex_);
    copies.emplace_back(from, to);
    auto it = nodes_.find(key(canonical(from)));
    if (it == nodes_.end() || it->second.isDirectory) return false;
    const WString target = canonical(to);
    if (key(target) == it->first) return false;  // a file cannot be copied onto itself
    auto existing = nodes_.find(key(target));
    if (existing != nodes_.end() && existing->second.isDirectory) return false;
    if (!canCreateIn(target)) return false;
    const Bytes data = it->second.data;
    nodes_[key(target)] = Node{false, data, target};
    return true;
}

bool FakeFileSystem::deleteFile(const WString& path) {
    std::lock_guard lock(mutex_);
    if (refuseDelete && refuseDelete(path)) return false;
    auto it = nodes_.find(key(canonical(path)));
    if (it == nodes_.end() || it->second.isDirectory) return false;  // a folder link too
    nodes_.erase(it);
    return true;
}

bool FakeFileSystem::removeDirectory(const WString& path) {
    std::lock_guard lock(mutex_);
    const WString k = key(canonical(path));
    auto it = nodes_.find(k);
    if (it == nodes_.end() || !it->second.isDirectory) return false;
    if (it->second.isLink) {  // the link goes, its target stays
        nodes_.erase(it);
        return true;
    }
    for (auto& [other, node] : nodes_)
        if (other.size() > k.size() && other.rfind(k + u"\\", 0) == 0) return false;
    nodes_.erase(it);
    return true;
}

std::optional<std::vector<DirEntry>> FakeFileSystem::listDirectory(const WString& folder) {
    std::lock_guard lock(mutex_);
    const WString c = followLinks(canonical(folder), true);
    auto it = nodes_.find(key(c));
    if (it == nodes_.end() || !it->second.isDirectory) return std::nullopt;
    WString prefix = key(c);
    if (prefix.back() != u'\\') prefix += u'\\';
    std::vector<DirEntry> out;
    for (auto& [k, node] : nodes_) {
        if (k.size() <= prefix.size() || k.rfind(prefix, 0) != 0) continue;
        if (k.find(u'\\', prefix.size()) != WString::npos) continue;
        const Kind kind = node.isLink ? Kind::Link : node.isDirectory ? Kind::Directory : Kind::File;
        out.push_back({node.displayName.substr(node.displayName.rfind(u'\\') + 1), kind});
    }
    return out;
}

void FakeFileSystem::failReadsFrom(const WString& path, std::size_t offset) {
    std::lock_guard lock(mutex_);
    readErrorAt_[key(canonical(path))] = offset;
}

std::optional<PartialRead> FakeFileSystem::readFileUntilError(const WString& path) {
    auto data = get(path);
    if (!data) return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto error = readErrorAt_.find(key(canonical(path)));
    if (error == readErrorAt_.end() || error->second >= data->size())
        return PartialRead{std::move(*data), true};
    data->resize(error->second);
    return PartialRead{std::move(*data), false};
}

std::optional<Bytes> FakeFileSystem::readFile(const WString& path, std::size_t maxBytes) {
    auto read = readFileUntilError(path);
    if (!read || !read->complete || read->bytes.size() > maxBytes) return std::nullopt;
    return std::move(read->bytes);
}

std::optional<Bytes> FakeFileSystem::readFileHead(const WString& path, std::size_t maxBytes) {
    auto read = readFileUntilError(path);
    if (!read) return std::nullopt;
    if (read->bytes.size() > maxBytes) read->bytes.resize(maxBytes);
    else if (!read->complete) return std::nullopt;  // the error lies within the head
    return std::move(read->bytes);
}

bool FakeFileSystem::isSameFile(const WString& a, const WString& b) {
    std::lock_guard lock(mutex_);
    const WString ca = followLinks(canonical(a), true), cb = followLinks(canonical(b), true);
    const auto node = nodes_.find(key(ca));
    return key(ca) == key(cb) && node != nodes_.end() && !node->second.isDirectory &&
           !node->second.isLink;
}

bool FakeFileSystem::writeWholeFile(const WString& path, const Bytes& data, FileAccess access) {
    std::lock_guard lock(mutex_);
    const WString c = canonical(path);
    auto existing = nodes_.find(key(c));
    if (existing != nodes_.end() && existing->second.isDirectory) return false;
    if (!canCreateIn(c)) return false;
    nodes_[key(c)] = Node{false, data, c, access};
    return true;
}

std::optional<FileAccess> FakeFileSystem::accessOf(const WString& path) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(key(canonical(path)));
    if (it == nodes_.end() || it->second.isDirectory) return std::nullopt;
    return it->second.access;
}

class FakeOutputFile : public OutputFile {
public:
    FakeOutputFile(FakeFileSystem& fs, WString path) : fs_(fs), path_(std::move(path)) {}
    std::size_t write(const char* data, std::size_t n) override {
        std::lock_guard lock(fs_.mutex_);
        fs_.nodes_[FakeFileSystem::key(path_)].data.append(data, n);
        return n;
    }
    std::uint64_t size() override {
        std::lock_guard lock(fs_.mutex_);
        return fs_.nodes_[FakeFileSystem::key(path_)].data.size();
    }
    void close() override {}

private:
    FakeFileSystem& fs_;
    WString path_;
};

std::unique_ptr<OutputFile> FakeFileSystem::createFile(const WString& path) {
    if (!writeFile(path, {})) return nullptr;
    return std::make_unique<FakeOutputFile>(*this, canonical(path));
}

bool FakeFileSystem::replaceFile(const WString& from, const WString& to) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(key(canonical(from)));
    if (it == nodes_.end() || it->second.isDirectory) return false;
    const WString target = canonical(to);
    Node node = it->second;
    node.displayName = target;
    nodes_.erase(it);
    nodes_[key(target)] = node;
    return true;
}

// ------------------------------------------------------------ profiles

namespace {
WString lowerAll(WString s) {
    std::transform(s.begin(), s.end(), s.begin(), lowerAscii);
    return s;
}
std::vector<WString> splitLines(const WString& text) {
    std::vector<WString> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find(u'\n', start);
        if (end == WString::npos) end = text.size();
        WString line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
WString trim(const WString& s) {
    auto b = s.find_first_not_of(u" \t");
    if (b == WString::npos) return {};
    auto e = s.find_last_not_of(u" \t");
    return s.substr(b, e - b + 1);
}
}  // namespace

namespace {
std::optional<WString> profileLookup(FakeFileSystem& files, const WString& section,
                                     const WString& key, const WString& path) {
    auto data = files.get(path);
    if (!data) return std::nullopt;
    bool inSection = false;
    for (const WString& raw : splitLines(fromUtf8(*data))) {
        const WString line = trim(raw);
        if (!line.empty() && line[0] == u'[') {
            inSection = lowerAll(line.substr(1, line.find(u']') - 1)) == lowerAll(section);
        } else if (inSection) {
            auto eq = line.find(u'=');
            if (eq != WString::npos && lowerAll(trim(line.substr(0, eq))) == lowerAll(key))
                return trim(line.substr(eq + 1));
        }
    }
    return std::nullopt;
}
}  // namespace

int FakeProfiles::getInt(const WString& section, const WString& key, int defaultValue,
                         const WString& path) {
    auto v = profileLookup(files_, section, key, path);
    return v && !v->empty() ? parseDecimal(*v) : defaultValue;  // empty: the default
}

std::optional<WString> FakeProfiles::getString(const WString& section, const WString& key,
                                               const WString& path, std::size_t bufferUnits) {
    auto v = profileLookup(files_, section, key, path);
    if (!v || v->size() + 1 > bufferUnits) return std::nullopt;
    return v;
}

bool FakeProfiles::writeString(const WString& section, const WString& key, const WString& value,
                               const WString& path) {
    std::vector<WString> lines;
    if (auto data = files_.get(path)) lines = splitLines(fromUtf8(*data));
    bool inSection = false, done = false;
    std::size_t sectionEnd = WString::npos;
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        const WString line = trim(lines[i]);
        if (!line.empty() && line[0] == u'[') {
            if (inSection) { sectionEnd = i; break; }
            inSection = lowerAll(line.substr(1, line.find(u']') - 1)) == lowerAll(section);
            if (inSection) sectionEnd = lines.size();
        } else if (inSection) {
            auto eq = line.find(u'=');
            if (eq != WString::npos && lowerAll(trim(line.substr(0, eq))) == lowerAll(key)) {
                lines[i] = key + u"=" + value;
                done = true;
            }
        }
    }
    if (!done) {
        if (sectionEnd == WString::npos) {
            lines.push_back(u"[" + section + u"]");
            lines.push_back(key + u"=" + value);
        } else {
            lines.insert(lines.begin() + static_cast<long>(sectionEnd), key + u"=" + value);
        }
    }
    WString text;
    for (auto& l : lines) text += l + u"\r\n";
    return files_.writeFile(path, toUtf8(text));
}

// ------------------------------------------------------------ registry

std::optional<WString> FakeRegistry::readUserString(const WString& key, const WString& value,
                                                    std::size_t bufferBytes) {
    std::lock_guard lock(mutex);
    auto it = values.find({lowerAll(key), lowerAll(value)});
    if (it == values.end()) return std::nullopt;
    if ((it->second.size() + 1) * 2 > bufferBytes) return std::nullopt;
    return untilZero(it->second);
}

bool FakeRegistry::writeUserString(const WString& key, const WString& value, const WString& data) {
    std::lock_guard lock(mutex);
    values[{lowerAll(key), lowerAll(value)}] = data;
    return true;
}

bool FakeRegistry::deleteUserValue(const WString& key, const WString& value) {
    std::lock_guard lock(mutex);
    return values.erase({lowerAll(key), lowerAll(value)}) > 0;
}

// ------------------------------------------------------------ processes

namespace {
class FakeProcess : public Process {
public:
    explicit FakeProcess(std::uint32_t code) : code_(code) {}
    std::optional<std::uint32_t> wait() override { return code_; }

private:
    std::uint32_t code_;
};
}  // namespace

std::unique_ptr<Process> FakeProcesses::start(const ProcessStart& request) {
    std::optional<std::uint32_t> code = 0;
    if (behaviour) code = behaviour(request);
    std::lock_guard lock(mutex);
    started.push_back({request, code});
    if (!code) return nullptr;
    return std::make_unique<FakeProcess>(*code);
}

std::optional<std::vector<WString>> FakeProcesses::runningProcessNames() { return running; }

void FakeProcesses::exitProcess(std::uint32_t code) { throw ProcessExit{code}; }

// ------------------------------------------------------------ drives

std::uint32_t FakeDrives::logicalDriveMask() {
    std::uint32_t mask = 0;
    for (auto& d : drives) mask |= 1u << (d.letter - u'A');
    return mask;
}

WString FakeDrives::logicalDriveStrings() {
    std::vector<FakeDrive> sorted = drives;
    std::sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.letter < b.letter; });
    WString list;
    for (auto& d : sorted) {
        list += d.letter;
        list += u":\\";
        list += u'\0';
    }
    list += u'\0';
    return list;
}

std::uint32_t FakeDrives::driveType(const WString& root) {
    for (auto& d : drives)
        if (!root.empty() && d.letter == root[0]) return d.type;
    return 1;
}

std::optional<DiskSpace> FakeDrives::diskFreeSpace(const WString& root) {
    for (auto& d : drives)
        if (!root.empty() && d.letter == root[0]) return d.space;
    return std::nullopt;
}

// ------------------------------------------------------------ shell

namespace {
// Links are stored as small text files: one property per line.
class FakeShellLink : public CollectedShellLink {
public:
    explicit FakeShellLink(FakeFileSystem& files) : files_(files) {}
    bool save(const WString& linkPath) override {
        const WString text = u"target=" + info_.target + u"\nworkdir=" + info_.workingDirectory +
                             u"\nargs=" + info_.arguments + u"\nicon=" + info_.iconPath +
                             u"\nindex=" + decimal(info_.iconIndex) + u"\n";
        return files_.writeFile(linkPath, toUtf8(text));
    }

private:
    FakeFileSystem& files_;
};
}  // namespace

std::optional<WString> FakeShell::specialFolderPath(SpecialFolder folder) {
    auto it = folders.find(folder);
    if (it == folders.end()) return std::nullopt;
    return it->second;
}

bool FakeShell::openInDefaultBrowser(const WString& url) {
    opened.push_back(url);
    return true;
}

std::unique_ptr<ShellLink> FakeShell::createShellLink() {
    if (!linkObjectsAvailable) return nullptr;
    return std::make_unique<FakeShellLink>(files_);
}

std::optional<ShellLinkInfo> FakeShell::readShellLink(const WString& linkPath) {
    auto data = files_.get(linkPath);
    if (!data) return std::nullopt;
    ShellLinkInfo info;
    for (const WString& line : splitLines(fromUtf8(*data))) {
        auto eq = line.find(u'=');
        if (eq == WString::npos) continue;
        const WString k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == u"target") info.target = v;
        else if (k == u"workdir") info.workingDirectory = v;
        else if (k == u"args") info.arguments = v;
        else if (k == u"icon") info.iconPath = v;
        else if (k == u"index") info.iconIndex = parseDecimal(v);
    }
    return info;
}

// ------------------------------------------------------------ HTTP

namespace {
// Every blocking call gives up once the session's stop flag is set.
void ThrowIfStopped(const std::atomic<bool>* stop) {
    if (stop && stop->load()) throw HttpFailure("stopped", HttpFailure::Kind::Stopped);
}

class FakeRequest : public HttpRequest {
public:
    FakeRequest(FakeHttp& http, WString object, FakeHttpAnswer answer,
                const std::atomic<bool>* stop)
        : http_(http), object_(std::move(object)), answer_(std::move(answer)), stop_(stop) {}
    void send() override {
        ThrowIfStopped(stop_);
        while (answer_.hang) {
            // A hang with no flag to end it would hold the test for ever.
            if (!stop_) throw HttpFailure("the fake server hangs, and nothing can stop it");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ThrowIfStopped(stop_);
        }
    }
    std::uint32_t statusCode() override { return answer_.status; }
    std::string route() const override { return "direct"; }
    std::optional<WString> contentLength() override {
        if (!answer_.contentLength) return std::nullopt;
        return widen(*answer_.contentLength);
    }
    std::size_t read(char* buffer, std::size_t n) override {
        ThrowIfStopped(stop_);
        const std::size_t limit = answer_.failAfter.value_or(answer_.body.size());
        if (offset_ >= limit && offset_ < answer_.body.size()) throw HttpFailure("read failed");
        const std::size_t count = std::min({n, answer_.body.size() - offset_, limit - offset_});
        std::copy_n(answer_.body.data() + offset_, count, buffer);
        offset_ += count;
        std::lock_guard lock(http_.mutex);
        http_.bodyBytesSent[object_] += count;
        return count;
    }

private:
    FakeHttp& http_;
    WString object_;
    FakeHttpAnswer answer_;
    const std::atomic<bool>* stop_;
    std::size_t offset_ = 0;
};

class FakeSession : public HttpSession {
public:
    FakeSession(FakeHttp& http, const std::atomic<bool>* stop) : http_(http), stop_(stop) {}
    std::unique_ptr<HttpRequest> openRequest(const HttpTarget& target) override {
        ThrowIfStopped(stop_);
        std::unique_lock lock(http_.mutex);
        http_.requests.push_back(target);
        if (http_.beforeAnswer) {
            const auto hook = http_.beforeAnswer;
            lock.unlock();
            hook(target);
            lock.lock();
        }
        auto it = http_.answers.find(target.object);
        if (it == http_.answers.end() || it->second.empty()) throw HttpFailure("cannot connect");
        FakeHttpAnswer answer = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        if (answer.unreachable) throw HttpFailure("cannot connect");
        return std::make_unique<FakeRequest>(http_, target.object, answer, stop_);
    }

private:
    FakeHttp& http_;
    const std::atomic<bool>* stop_;
};
}  // namespace

std::unique_ptr<HttpSession> FakeHttp::openSession(const WString& agent,
                                                   const HttpSessionOptions& options) {
    std::lock_guard lock(mutex);
    agents.push_back(agent);
    sessionOptions.push_back(options);
    if (sessionFails) throw HttpFailure("no session");
    return std::make_unique<FakeSession>(*this, options.stop);
}

void FakeHttp::serve(const WString& object, const Bytes& body) {
    std::lock_guard lock(mutex);
    answers[object] = {FakeHttpAnswer{200, std::to_string(body.size()), body, std::nullopt, false}};
}

// ------------------------------------------------------------ windows

void FakeControl::move(int x, int y, int width, int height) { rect_ = Rect{x, y, x + width, y + height}; }
void FakeControl::show(bool visible) {
    visible_ = visible;
    visibilityChanges.push_back(visible);
}

int FakeImageButton::setImages(int inBitmapId, int outBitmapId) {
    inBitmap = inBitmapId;
    outBitmap = outBitmapId;
    return 0;
}

void FakeImageButton::sizeToImage() {
    for (auto& size : res::kBitmapSizes)
        if (size.id == inBitmap) rect_ = Rect{rect_.left, rect_.top, rect_.left + size.width, rect_.top + size.height};
}

void FakeImageButton::setCheck(int state) {
    if (checkBox_) check_ = state;
}

void FakeProgressBar::setPos(int position) {
    std::lock_guard lock(mutex_);
    pos_ = position;
    positions.push_back(position);
}
void FakeProgressBar::setBarText(const WString& text) {
    std::lock_guard lock(mutex_);
    barText_ = text;
}
WString FakeProgressBar::barText() {
    std::lock_guard lock(mutex_);
    return barText_;
}

void FakeWebView::navigate(const WString& url) {
    navigations.push_back(url);
    location_ = url;
    // The owner's own navigation, of the view's page.
    events.onBeforeNavigate2(WebNavigation{url});
}

FakeDialog::FakeDialog(int id) : templateId(id) {
    auto add = [this](const res::TemplateControl& c) {
        switch (c.kind) {
            case res::ControlKind::PushButton:
                controls[c.id] = std::make_unique<FakeImageButton>(false);
                break;
            case res::ControlKind::AutoCheckBox:
                controls[c.id] = std::make_unique<FakeImageButton>(true);
                break;
            case res::ControlKind::ProgressBar:
                controls[c.id] = std::make_unique<FakeProgressBar>();
                break;
            case res::ControlKind::Edit:
                controls[c.id] = std::make_unique<FakeEditBox>();
                break;
        }
        controls[c.id]->setText(WString(c.text));
    };
    if (id == IDD_LAUNCHER_DIALOG)
        for (auto& c : res::kLauncherControls) add(c);
    if (id == IDD_UNINSTALL_DIALOG)
        for (auto& c : res::kUninstallControls) add(c);
}

Control* FakeDialog::control(int id) {
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : it->second.get();
}
ImageButton* FakeDialog::imageButton(int id) { return dynamic_cast<ImageButton*>(control(id)); }
ProgressBar* FakeDialog::progressBar(int id) { return dynamic_cast<ProgressBar*>(control(id)); }
EditBox* FakeDialog::editBox(int id) { return dynamic_cast<EditBox*>(control(id)); }

WebView* FakeDialog::createWebView(int, const Rect& rect, WebViewEvents& events) {
    webViews.push_back(std::make_unique<FakeWebView>(events));
    webViews.back()->move(rect.left, rect.top, rect.width(), rect.height());
    return webViews.back().get();
}

void FakeDialog::endDialog(int r) {
    ended = true;
    result = r;
}

bool FakeDialog::setBackgroundFile(const WString& path) {
    const bool loaded = backgroundLoads(path);
    background = loaded ? std::optional<WString>(path) : std::nullopt;
    return loaded;
}

void FakeDialog::runOnDialogThread(const std::function<void()>& fn) {
    std::lock_guard lock(mutex_);
    fn();
}

void FakeDialog::click(DialogHandler& handler, int id) {
    if (auto* button = imageButton(id); button && button->isCheckBox()) button->setCheck(1);
    handler.onCommand(id);
}

int FakeUi::runModal(int templateId, DialogHandler& handler, Dialog*) {
    FakeDialog* made = nullptr;
    {
        std::lock_guard lock(mutex);
        templatesRun.push_back(templateId);
        // As with the real backends, the object outlives its window.
        dialogs.push_back(std::make_unique<FakeDialog>(templateId));
        made = dialogs.back().get();
    }
    FakeDialog& dialog = *made;
    FakeDialog* previous = lastDialog;
    lastDialog = &dialog;
    if (beforeInit) beforeInit(dialog);
    handler.onInitDialog(dialog);
    if (!dialog.ended) {
        auto it = whileOpen.find(templateId);
        if (it != whileOpen.end()) it->second(dialog, handler);
    }
    {
        std::lock_guard lock(dialog.windowThread());
        handler.onDestroy();
        dialog.ended = true;  // the window is gone
    }
    lastDialog = previous;
    if (onDestroyed) onDestroyed();
    return dialog.result;
}

MsgResult FakeUi::messageBox(Dialog* owner, const WString& text, const WString& caption,
                             MsgButtons buttons, MsgIcon icon) {
    ShownBox box{text, caption, buttons, icon, owner != nullptr};
    std::function<void(const ShownBox&)> hook;
    MsgResult result = MsgResult::Ok;
    {
        std::lock_guard lock(mutex);
        boxes.push_back(box);
        hook = onBox;
        if (!answers.empty()) {
            result = answers.front();
            answers.pop_front();
        }
    }
    if (hook) hook(box);
    return result;
}

void FakeUi::desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) {
    std::lock_guard lock(mutex);
    gbkBoxes.emplace_back(text, caption);
}

// ------------------------------------------------------------ system

void FakeSystem::sleep(unsigned milliseconds) {
    ++sleeps;
    sleptMs += milliseconds;
    clockMs += milliseconds;
    if (realSleep) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::optional<WString> FakeSystem::environment(const WString& name) {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
}

std::set<WString>& FakeSystem::heldMutexes() {
    static std::set<WString> held;
    return held;
}

// Named mutexes are taken from worker threads too.
static std::mutex& heldMutexesLock() {
    static std::mutex lock;
    return lock;
}

namespace {
class FakeMutex : public NamedMutex {
public:
    explicit FakeMutex(WString name, bool owner) : name_(std::move(name)), owner_(owner) {}
    ~FakeMutex() override {
        std::lock_guard lock(heldMutexesLock());
        if (owner_) FakeSystem::heldMutexes().erase(name_);
    }

private:
    WString name_;
    bool owner_;
};
}  // namespace

std::unique_ptr<NamedMutex> FakeSystem::createNamedMutex(const WString& name, bool& alreadyExisted) {
    std::lock_guard lock(heldMutexesLock());
    alreadyExisted = heldMutexes().count(name) > 0;
    if (!alreadyExisted) heldMutexes().insert(name);
    return std::make_unique<FakeMutex>(name, !alreadyExisted);
}

// The fake's ANSI code page is UTF-8; a lone surrogate cannot be converted.
std::optional<Bytes> FakeSystem::toAnsi(const WString& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return std::nullopt;
        }
    }
    return toUtf8(text);
}

WString FakeSystem::fromAnsi(const Bytes& text) { return fromUtf8(text); }

FakePlatform::FakePlatform() : files([this] { return system.currentDir; }) {
    files.addDrive(u'C');
    files.mkdirs(u"C:\\Games");
    files.mkdirs(u"C:\\Users\\player\\Desktop");
    files.mkdirs(u"C:\\Users\\player\\Programs");
    drives.drives.push_back({u'C', 3, DiskSpace{100ull << 30, 200ull << 30, 100ull << 30}});
}

}  // namespace kvn::fake
