// An in-memory platform for the core's unit tests: Windows path rules, a
// scripted HTTP server, recorded processes, windows and message boxes.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kvn::fake {

// Thrown by exitProcess so that a test sees the process end.
struct ProcessExit {
    std::uint32_t code;
};

class FakeFileSystem : public FileSystem {
public:
    explicit FakeFileSystem(std::function<WString()> currentDirectory);
    Kind find(const WString& path) override;
    bool createDirectory(const WString& path) override;
    bool copyFile(const WString& from, const WString& to) override;
    bool deleteFile(const WString& path) override;
    bool removeDirectory(const WString& path) override;
    std::optional<std::vector<DirEntry>> listDirectory(const WString& folder) override;
    std::optional<Bytes> readFile(const WString& path, std::size_t maxBytes) override;
    std::optional<Bytes> readFileHead(const WString& path, std::size_t maxBytes) override;
    std::optional<PartialRead> readFileUntilError(const WString& path) override;
    bool isSameFile(const WString& a, const WString& b) override;
    std::unique_ptr<OutputFile> createFile(const WString& path) override;
    bool replaceFile(const WString& from, const WString& to) override;

    // Test set-up and inspection.
    void addDrive(char16_t letter);
    void mkdirs(const WString& path);
    void put(const WString& path, const Bytes& data);  // creates parent folders
    // A link at `path` to `target` (a folder link when toFolder, else a file
    // link). Paths that pass through it lead to the target; find, deleteFile
    // and removeDirectory act on the link itself, as on Windows.
    void link(const WString& path, const WString& target, bool toFolder);
    std::optional<Bytes> get(const WString& path);
    // How the file at a path was last written; nullopt when there is none.
    std::optional<FileAccess> accessOf(const WString& path);
    void setReadOnlyFolder(const WString& folder);  // no file can be created in it
    std::vector<WString> filesUnder(const WString& folder);  // canonical full paths
    std::vector<std::pair<WString, WString>> copies;         // (from, to) as asked
    // When set and true for a path, deleteFile refuses it (a file in use).
    std::function<bool(const WString&)> refuseDelete;
    // Read errors: a file's bytes from this offset on cannot be read.
    void failReadsFrom(const WString& path, std::size_t offset);
    // Canonical form: backslashes, no doubled or trailing separator,
    // absolute with drive letter, links before the last step followed;
    // compared without ASCII case.
    WString canonical(const WString& path);

private:
    struct Node {
        bool isDirectory = false;
        Bytes data;
        WString displayName;
        FileAccess access = FileAccess::Shared;
        bool isLink = false;  // isDirectory tells a folder link
        WString target;       // canonical
    };
    WString followLinks(const WString& canonicalPath, bool last);
    static WString key(const WString& canonicalPath);
    static WString parentOf(const WString& canonicalPath);
    bool canCreateIn(const WString& canonicalPath);
    std::recursive_mutex mutex_;
    std::map<WString, Node> nodes_;
    std::set<WString> readOnly_;
    std::map<WString, std::size_t> readErrorAt_;  // by key
    std::function<WString()> currentDirectory_;
    bool writeWholeFile(const WString& path, const Bytes& data, FileAccess access) override;
    friend class FakeOutputFile;
    friend class FakeProfiles;
};

class FakeProfiles : public ProfileFiles {
public:
    explicit FakeProfiles(FakeFileSystem& files) : files_(files) {}
    int getInt(const WString& section, const WString& key, int defaultValue,
               const WString& path) override;
    std::optional<WString> getString(const WString& section, const WString& key,
                                     const WString& path, std::size_t bufferUnits) override;
    bool writeString(const WString& section, const WString& key, const WString& value,
                     const WString& path) override;

private:
    FakeFileSystem& files_;
};

class FakeRegistry : public Registry {
public:
    std::optional<WString> readUserString(const WString& key, const WString& value,
                                          std::size_t bufferBytes) override;
    bool writeUserString(const WString& key, const WString& value, const WString& data) override;
    bool deleteUserValue(const WString& key, const WString& value) override;
    std::map<std::pair<WString, WString>, WString> values;
    std::mutex mutex;
};

struct StartedProcess {
    ProcessStart request;
    std::optional<std::uint32_t> exitCode;  // nullopt: could not start
};

class FakeProcesses : public Processes {
public:
    std::unique_ptr<Process> start(const ProcessStart& request) override;
    std::optional<std::vector<WString>> runningProcessNames() override;
    [[noreturn]] void exitProcess(std::uint32_t code) override;

    // Decides what a start does: nullopt means the program cannot be
    // started; otherwise the exit code it ends with. Default: exit code 0.
    std::function<std::optional<std::uint32_t>(const ProcessStart&)> behaviour;
    std::optional<std::vector<WString>> running = std::vector<WString>{};
    std::vector<StartedProcess> started;
    std::mutex mutex;
};

struct FakeDrive {
    char16_t letter;
    std::uint32_t type = 3;
    std::optional<DiskSpace> space;
};

class FakeDrives : public Drives {
public:
    std::uint32_t logicalDriveMask() override;
    WString logicalDriveStrings() override;
    std::uint32_t driveType(const WString& root) override;
    std::optional<DiskSpace> diskFreeSpace(const WString& root) override;
    std::vector<FakeDrive> drives;
};

class FakeShell : public Shell {
public:
    explicit FakeShell(FakeFileSystem& files) : files_(files) {}
    std::optional<WString> specialFolderPath(SpecialFolder folder) override;
    bool openInDefaultBrowser(const WString& url) override;
    std::unique_ptr<ShellLink> createShellLink() override;
    std::optional<ShellLinkInfo> readShellLink(const WString& linkPath) override;
    std::vector<WString> filesMadeForLinks(const WString& target) override {
        return madeForLinks ? madeForLinks(target) : std::vector<WString>{};
    }

    // The files a backend keeps beside a link's target; none by default.
    std::function<std::vector<WString>(const WString&)> madeForLinks;
    std::map<SpecialFolder, WString> folders{{SpecialFolder::Desktop, u"C:\\Users\\player\\Desktop"},
                                             {SpecialFolder::Programs, u"C:\\Users\\player\\Programs"}};
    bool linkObjectsAvailable = true;
    std::vector<WString> opened;

private:
    FakeFileSystem& files_;
};

// One scripted answer of the fake download server.
struct FakeHttpAnswer {
    std::uint32_t status = 200;
    std::optional<std::string> contentLength;  // nullopt: no header
    Bytes body;
    std::optional<std::size_t> failAfter;  // a read fails once this many bytes are out
    bool unreachable = false;              // the connection cannot be made
    // The answer never comes: send() waits until the session's stop flag is
    // set, then fails as the backends do.
    bool hang = false;
};

class FakeHttp : public Http {
public:
    std::unique_ptr<HttpSession> openSession(const WString& agent,
                                             const HttpSessionOptions& options) override;
    // Answers by object path; a path without an answer is unreachable.
    std::map<WString, std::deque<FakeHttpAnswer>> answers;  // front answer reused when one left
    void serve(const WString& object, const Bytes& body);   // 200 with the right length
    std::vector<HttpTarget> requests;
    std::vector<WString> agents;
    std::vector<HttpSessionOptions> sessionOptions;  // as each session was opened
    bool sessionFails = false;
    // Runs as each request reaches the server (after it is recorded); may
    // throw to stand for the process being killed there.
    std::function<void(const HttpTarget&)> beforeAnswer;
    std::map<WString, std::uint64_t> bodyBytesSent;  // body bytes handed to readers, by object path
    std::mutex mutex;
};

class FakeDialog;

struct ShownBox {
    WString text, caption;
    MsgButtons buttons;
    MsgIcon icon;
    bool owned;
};

class FakeUi : public Ui {
public:
    void initialise() override { ++initialised; }
    int runModal(int templateId, DialogHandler& handler, Dialog* owner) override;
    MsgResult messageBox(Dialog* owner, const WString& text, const WString& caption,
                         MsgButtons buttons, MsgIcon icon) override;
    void desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) override;

    int initialised = 0;
    std::vector<int> templatesRun;
    // Runs while a dialog of the template is open (after its initialisation);
    // the dialog ends when this returns unless it ended before.
    std::map<int, std::function<void(FakeDialog&, DialogHandler&)>> whileOpen;
    std::vector<ShownBox> boxes;
    std::vector<std::pair<Bytes, Bytes>> gbkBoxes;
    std::deque<MsgResult> answers;  // answers of the next boxes; Ok when empty
    std::function<void(const ShownBox&)> onBox;
    FakeDialog* lastDialog = nullptr;  // valid inside whileOpen
    std::vector<std::unique_ptr<FakeDialog>> dialogs;  // every dialog run
    // Runs on each new dialog before its initialisation (to set it up).
    std::function<void(FakeDialog&)> beforeInit;
    // Called once a dialog's window is gone, as runModal returns.
    std::function<void()> onDestroyed;
    std::mutex mutex;
};

class FakeSystem : public System {
public:
    std::vector<WString> arguments() override { return args; }
    void sleep(unsigned milliseconds) override;
    // The fake's monotonic clock: set by tests and moved on by sleep.
    std::uint64_t monotonicMs() override { return clockMs.load(); }
    std::optional<WString> environment(const WString& name) override;
    WString currentDirectory() override { return currentDir; }
    WString moduleFileName() override { return moduleFile; }
    std::vector<WString> packageFiles() override { return packageFileNames; }
    std::unique_ptr<NamedMutex> createNamedMutex(const WString& name, bool& alreadyExisted) override;
    std::optional<Bytes> toAnsi(const WString& text) override;
    WString fromAnsi(const Bytes& text) override;
    std::int64_t utcSeconds() override { return utcNow; }

    std::int64_t utcNow = 1780315200;  // 2026-06-01T12:00:00Z

    std::vector<WString> args{u"C:\\Games\\Login.exe"};
    std::map<WString, WString> env;
    WString currentDir = u"C:\\Games";
    WString moduleFile = u"C:\\Games\\Login.exe";
    std::vector<WString> packageFileNames;  // none, as on Windows
    std::atomic<unsigned> sleeps{0};
    std::atomic<unsigned long long> sleptMs{0};
    std::atomic<std::uint64_t> clockMs{5000};
    bool realSleep = false;  // sleep 1 ms of real time per call (for threads)
    static std::set<WString>& heldMutexes();
};

struct FakePlatform {
    FakePlatform();
    FakeSystem system;
    FakeFileSystem files;
    FakeProfiles profiles{files};
    FakeRegistry registry;
    FakeProcesses processes;
    FakeDrives drives;
    FakeShell shell{files};
    FakeHttp http;
    FakeUi ui;
    Platform platform{files, profiles, registry, processes, drives, shell, http, ui, system};
    operator Platform&() { return platform; }
};

// Controls of a fake dialog.
class FakeControl : public virtual Control {
public:
    void move(int x, int y, int width, int height) override;
    void show(bool visible) override;
    bool isVisible() override { return visible_; }
    Rect windowRect() override { return rect_; }
    void setText(const WString& text) override { text_ = text; }
    WString text() override { return text_; }
    std::vector<bool> visibilityChanges;

protected:
    bool visible_ = true;
    Rect rect_{};
    WString text_;
};

class FakeImageButton : public FakeControl, public ImageButton {
public:
    explicit FakeImageButton(bool checkBox) : checkBox_(checkBox) {}
    int setImages(int inBitmapId, int outBitmapId) override;
    void sizeToImage() override;
    void setCheck(int state) override;
    int checkState() override { return check_; }
    bool isCheckBox() override { return checkBox_; }
    int inBitmap = 0, outBitmap = 0;

private:
    bool checkBox_;
    int check_ = 0;
};

class FakeProgressBar : public FakeControl, public ProgressBar {
public:
    void setRange(int lower, int upper) override { lower_ = lower, upper_ = upper; }
    void setPos(int position) override;
    int pos() override { return pos_; }
    void setBarText(const WString& text) override;
    WString barText() override;
    int lower_ = 0, upper_ = 100;
    std::vector<int> positions;

private:
    std::mutex mutex_;
    int pos_ = 0;
    WString barText_;
};

class FakeEditBox : public FakeControl, public EditBox {
public:
    void setLimitToMax() override { unlimited = true; }
    void append(const WString& text) override { text_ += text; }
    bool unlimited = false;
};

class FakeWebView : public FakeControl, public WebView {
public:
    explicit FakeWebView(WebViewEvents& events) : events(events) {}
    void navigate(const WString& url) override;
    WString location() override { return location_; }
    std::vector<WString> navigations;
    WebViewEvents& events;

private:
    WString location_;
};

class FakeDialog : public Dialog {
public:
    FakeDialog(int templateId);
    Control* control(int id) override;
    ImageButton* imageButton(int id) override;
    ProgressBar* progressBar(int id) override;
    EditBox* editBox(int id) override;
    WebView* createWebView(int id, const Rect& rect, WebViewEvents& events) override;
    void setSize(int width, int height) override { width_ = width, height_ = height; }
    Rect windowRect() override { return Rect{0, 0, width_, height_}; }
    void setIcon(int iconId) override { icon = iconId; }
    void setTitle(const WString& title) override { title_ = title; }
    WString title() override { return title_; }
    void removeClientEdge() override { clientEdgeRemoved = true; }
    void minimize() override { iconic = true; }
    bool isIconic() override { return iconic; }
    void endDialog(int result) override;
    bool exists() override { return !ended; }
    void setTimer(int id, unsigned periodMs) override { timers[id] = periodMs; }
    void killTimer(int id) override { timers.erase(id); }
    bool setBackgroundFile(const WString& path) override;
    void setBackgroundStyle(int style) override { backgroundStyle = style; }
    void enableDragAnywhere(bool enable) override { dragAnywhere = enable; }
    void setColorKey(std::uint32_t colorRef) override { colorKey = colorRef; }
    Bytes openGlRenderer() override {
        ++rendererQueries;
        return renderer;
    }
    void runOnDialogThread(const std::function<void()>& fn) override;

    // Sends a command as a click of the control would (check boxes check first).
    void click(DialogHandler& handler, int id);

    int templateId;
    int icon = 0;
    bool clientEdgeRemoved = false, iconic = false, ended = false;
    int result = 0;
    std::map<int, unsigned> timers;
    std::optional<WString> background;
    int backgroundStyle = -1;
    bool dragAnywhere = false;
    std::optional<std::uint32_t> colorKey;
    Bytes renderer;           // what openGlRenderer answers
    int rendererQueries = 0;  // how often it was asked
    std::function<bool(const WString&)> backgroundLoads = [](const WString&) { return false; };
    std::vector<std::unique_ptr<FakeWebView>> webViews;
    std::map<int, std::unique_ptr<FakeControl>> controls;
    int width_ = 0, height_ = 0;

    // Stands for the window's thread: calls handed to it (runOnDialogThread)
    // and the handler's teardown run one at a time.
    std::recursive_mutex& windowThread() { return mutex_; }

private:
    WString title_;
    std::recursive_mutex mutex_;
};

}  // namespace kvn::fake
