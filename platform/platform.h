// The operating-system services the launcher's core needs, as small
// interfaces. The core holds every rule and includes no OS header; each
// backend (platform/win32, platform/linux) implements these interfaces, and
// tests use a fake (tests/fake).
//
// Texts are UTF-16 (`WString`), counted in UTF-16 units as on Windows.
// Paths stay in Windows form ("D:\Korvanis\/Launcher.exe"); a backend that
// is not Windows maps them onto its own file system. Narrow texts (`Bytes`)
// are 8-bit text in the system's ANSI code page, or raw file bytes.
//
// Unless an operation says otherwise it runs on the calling thread and may be
// called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kvn {

using WString = std::u16string;
using Bytes = std::string;

// ---------------------------------------------------------------- files

// What lies at a path. A link (a symbolic link, a junction, any reparse
// point) is reported as such and never followed: removing it removes the
// link, and what it points at is left alone.
enum class EntryKind { None, File, Directory, Link };

struct DirEntry {
    // Bare name, never "." or "..". Joined to its folder with a separator,
    // it names this entry and nothing else: a backend whose file names can
    // hold characters that Windows paths read as syntax encodes them.
    WString name;
    EntryKind kind = EntryKind::File;
};

// A read that stops at the first read error: the bytes read from the
// start, and whether they reach the end of the file.
struct PartialRead {
    Bytes bytes;
    bool complete = true;
};

// A file open for writing; closed by its destructor.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Writes n bytes; returns the number the system reports as written.
    virtual std::size_t write(const char* data, std::size_t n) = 0;
    // Size of the file as the file system reports it now.
    virtual std::uint64_t size() = 0;
    virtual void close() = 0;
};

// Who may open a file the launcher writes.
enum class FileAccess {
    Shared,     // as the folder and the system's defaults allow
    OwnerOnly,  // the current user alone
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // What lies at a path (FindFirstFileW); a link as the last step is
    // reported as a link, not followed.
    using Kind = EntryKind;
    virtual Kind find(const WString& path) = 0;
    bool exists(const WString& path) { return find(path) != Kind::None; }
    // Creates one folder level; false when it exists or cannot be made.
    virtual bool createDirectory(const WString& path) = 0;
    // Copies a file, replacing an existing target.
    virtual bool copyFile(const WString& from, const WString& to) = 0;
    // Deletes a file, or a link that is not a folder link (on Linux any link).
    virtual bool deleteFile(const WString& path) = 0;
    // Removes an empty folder, or a folder link.
    virtual bool removeDirectory(const WString& path) = 0;
    // The entries of a folder in the platform's order; nullopt when the
    // folder cannot be searched.
    virtual std::optional<std::vector<DirEntry>> listDirectory(const WString& folder) = 0;
    // Reads a whole file; nullopt when it cannot be opened or read, or when
    // it holds more than maxBytes (such a file is not read at all).
    virtual std::optional<Bytes> readFile(const WString& path, std::size_t maxBytes) = 0;
    // Reads at most the first maxBytes of a file; nullopt when it cannot be
    // opened.
    virtual std::optional<Bytes> readFileHead(const WString& path, std::size_t maxBytes) = 0;
    // Reads a whole file, or as much of it as can be read before a read
    // error; nullopt when it cannot be opened.
    virtual std::optional<PartialRead> readFileUntilError(const WString& path) = 0;
    // True when both paths name one existing file (through any spelling or
    // link of either).
    virtual bool isSameFile(const WString& a, const WString& b) = 0;
    // Creates or truncates a file and writes the bytes in one write. An
    // owner-only file (a player's login text) can be read and written by
    // the current user alone, also when an older file was open to others.
    bool writeFile(const WString& path, const Bytes& data,
                   FileAccess access = FileAccess::Shared) {
        return writeWholeFile(path, data, access);
    }
    // Creates or truncates a file for writing (shared for writing only);
    // null when it cannot be created.
    virtual std::unique_ptr<OutputFile> createFile(const WString& path) = 0;
    // Moves `from` over `to` in one step: afterwards `to` is either the old
    // file or the whole new one.
    virtual bool replaceFile(const WString& from, const WString& to) = 0;

protected:
    virtual bool writeWholeFile(const WString& path, const Bytes& data, FileAccess access) = 0;
};

// INI ("profile") files, as GetPrivateProfileIntW / WritePrivateProfileStringW.
class ProfileFiles {
public:
    virtual ~ProfileFiles() = default;
    virtual int getInt(const WString& section, const WString& key, int defaultValue,
                       const WString& path) = 0;
    // A key's text (GetPrivateProfileStringW into a buffer of bufferUnits
    // units); nullopt when the file, section or key is missing or the text
    // does not fit.
    virtual std::optional<WString> getString(const WString& section, const WString& key,
                                             const WString& path, std::size_t bufferUnits) = 0;
    // Creates the file and section when needed; replaces the file whole.
    virtual bool writeString(const WString& section, const WString& key, const WString& value,
                             const WString& path) = 0;
};

// ---------------------------------------------------------------- registry

// Values under HKEY_CURRENT_USER. On Windows the registry itself; elsewhere
// a per-user store.
class Registry {
public:
    virtual ~Registry() = default;
    // Reads a string value into a buffer of bufferBytes bytes (terminator
    // included). nullopt when the key or the value is missing or the data
    // does not fit. The text ends at its first zero unit.
    virtual std::optional<WString> readUserString(const WString& key, const WString& value,
                                                  std::size_t bufferBytes) = 0;
    virtual bool writeUserString(const WString& key, const WString& value,
                                 const WString& data) = 0;
    virtual bool deleteUserValue(const WString& key, const WString& value) = 0;
};

// ---------------------------------------------------------------- processes

struct ProcessStart {
    // Program to run; empty: the first token of commandLine, found by the
    // platform's usual program search.
    WString application;
    WString commandLine;       // may be empty when application is given
    WString workingDirectory;  // empty: the caller's
    bool hidden = false;       // ask for a hidden window
};

class Process {
public:
    virtual ~Process() = default;  // closes the handles, never kills
    // Waits without time-out; the exit code, nullopt when it cannot be had.
    virtual std::optional<std::uint32_t> wait() = 0;
};

class Processes {
public:
    virtual ~Processes() = default;
    // Starts a program; null when it cannot be started.
    virtual std::unique_ptr<Process> start(const ProcessStart& request) = 0;
    // Executable file names (no folder) of all running processes; nullopt
    // when the process list cannot be had.
    virtual std::optional<std::vector<WString>> runningProcessNames() = 0;
    // Ends this process at once with the code, without any clean-up.
    [[noreturn]] virtual void exitProcess(std::uint32_t code) = 0;
};

// A named mutex held while the object lives.
class NamedMutex {
public:
    virtual ~NamedMutex() = default;
};

// ---------------------------------------------------------------- drives

struct DiskSpace {
    std::uint64_t availableToCaller = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t totalFree = 0;
};

class Drives {
public:
    virtual ~Drives() = default;
    // Bit n set when drive letter A+n exists (GetLogicalDrives).
    virtual std::uint32_t logicalDriveMask() = 0;
    // The roots as consecutive terminated strings ("C:\" and a zero unit
    // each), ending with an extra zero unit; the length of the returned
    // text is the list's length L (GetLogicalDriveStringsW).
    virtual WString logicalDriveStrings() = 0;
    // 0 unknown, 1 no root folder, 2 removable, 3 fixed, 4 remote, 5 CD/DVD,
    // 6 RAM disk.
    virtual std::uint32_t driveType(const WString& root) = 0;
    virtual std::optional<DiskSpace> diskFreeSpace(const WString& root) = 0;
};

// ---------------------------------------------------------------- shell

enum class SpecialFolder { Desktop = 0, Programs = 2 };

// A shell link being built (IShellLinkW on Windows, a desktop entry
// elsewhere). Destroying it releases it.
class ShellLink {
public:
    virtual ~ShellLink() = default;
    virtual void setPath(const WString& target) = 0;
    virtual void setWorkingDirectory(const WString& folder) = 0;
    virtual void setArguments(const WString& arguments) = 0;
    virtual void setIconLocation(const WString& path, int index) = 0;
    virtual bool save(const WString& linkPath) = 0;
};

struct ShellLinkInfo {
    WString target, workingDirectory, arguments, iconPath;
    int iconIndex = 0;
};

// A link that gathers its properties and writes them all when saved (for
// backends whose links are plain files).
class CollectedShellLink : public ShellLink {
public:
    void setPath(const WString& target) override { info_.target = target; }
    void setWorkingDirectory(const WString& folder) override { info_.workingDirectory = folder; }
    void setArguments(const WString& arguments) override { info_.arguments = arguments; }
    void setIconLocation(const WString& path, int index) override {
        info_.iconPath = path;
        info_.iconIndex = index;
    }

protected:
    ShellLinkInfo info_;
};

class Shell {
public:
    virtual ~Shell() = default;
    // The current user's special folder; never created. nullopt on failure.
    virtual std::optional<WString> specialFolderPath(SpecialFolder folder) = 0;
    // Opens an address in the user's default web browser.
    virtual bool openInDefaultBrowser(const WString& url) = 0;
    // A new link object, null when it cannot be created.
    virtual std::unique_ptr<ShellLink> createShellLink() = 0;
    // Reads a link back (for checks and tests); nullopt when unreadable.
    virtual std::optional<ShellLinkInfo> readShellLink(const WString& linkPath) = 0;
    // Files the backend keeps beside a link's target for the links' sake (a
    // desktop entry's icon image); none where a link takes its icon out of
    // the program itself, as on Windows.
    virtual std::vector<WString> filesMadeForLinks(const WString& /*target*/) { return {}; }
};

// ---------------------------------------------------------------- HTTP

// Raised by the HTTP backend when a lookup, connection, request or read
// fails; what() says why in a line fit for a log.
class HttpFailure : public std::runtime_error {
public:
    enum class Kind {
        Other,     // a protocol, TLS or system failure
        Lookup,    // the proxy resolver gave no usable answer in time
        Connect,   // no way to the host could be connected
        Silence,   // nothing arrived within the receive time-out
        TooSlow,   // fewer than the low-speed bytes within the window
        Stopped,   // the session's stop flag was set
    };
    explicit HttpFailure(const std::string& what, Kind kind = Kind::Other)
        : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct HttpSessionOptions {
    unsigned connectTimeoutMs = 2000;
    unsigned connectRetries = 5;
    unsigned receiveTimeoutMs = 7000;
    unsigned dataReceiveTimeoutMs = 7000;
    unsigned connectBackoffMs = 500;
    // A transfer that brings fewer than lowSpeedBytes (head and body) within
    // lowSpeedWindowMs fails, however steadily they trickle in: a trickle
    // holds the caller no longer than a silent server does.
    unsigned lowSpeedBytes = 1024;
    unsigned lowSpeedWindowMs = 7000;
    // Read by every blocking call of the session (proxy lookup, connect,
    // send, response head, read): once it reads true, the call gives up with
    // HttpFailure within about 250 ms. Null: never asked to stop. The flag
    // must outlive the session.
    const std::atomic<bool>* stop = nullptr;
};

struct HttpTarget {
    bool secure = false;  // https
    WString host;
    std::uint16_t port = 80;
    WString object;  // path and query, starting with "/"
};

class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    // "GET" with version "HTTP/1.0", forced reload, no redirect following,
    // and "User-Agent: KVN" added when the request has no User-Agent yet.
    // Throws HttpFailure when it cannot be sent.
    virtual void send() = 0;
    virtual std::uint32_t statusCode() = 0;
    // Raw Content-Length header, nullopt when absent.
    virtual std::optional<WString> contentLength() = 0;
    // Reads up to n bytes of the body; 0 at its end. Throws HttpFailure.
    virtual std::size_t read(char* buffer, std::size_t n) = 0;
    // The way the request took, for the record: "direct", or the proxy as
    // scheme://host:port (never its credentials); empty while none stands
    // or when the backend cannot tell (the system chose it). Also set after
    // send() failed: the last way tried.
    virtual std::string route() const { return {}; }
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // Connects and opens a GET request; throws HttpFailure.
    virtual std::unique_ptr<HttpRequest> openRequest(const HttpTarget& target) = 0;
};

class Http {
public:
    virtual ~Http() = default;
    // Opens a session with the agent string and options; throws
    // HttpFailure when no session can be opened.
    virtual std::unique_ptr<HttpSession> openSession(const WString& agent,
                                                     const HttpSessionOptions& options) = 0;
};

// ---------------------------------------------------------------- windows

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// A child window of a dialog. Calls may come from any thread; the backend
// carries them out on the window's thread and returns when they are done.
class Control {
public:
    virtual ~Control() = default;
    virtual void move(int x, int y, int width, int height) = 0;
    virtual void show(bool visible) = 0;
    virtual bool isVisible() = 0;
    virtual Rect windowRect() = 0;  // relative to the dialog's client area
    virtual void setText(const WString& text) = 0;
    virtual WString text() = 0;
};

// An image button or picture check box drawn from two bitmap resources.
class ImageButton : public virtual Control {
public:
    // 0 success, 1 a bitmap cannot be described, 2 a mask cannot be made.
    virtual int setImages(int inBitmapId, int outBitmapId) = 0;
    // Resizes the control to the in image without moving it.
    virtual void sizeToImage() = 0;
    // Check state in check-box mode (0 or 1); ignored for push buttons.
    virtual void setCheck(int state) = 0;
    virtual int checkState() = 0;
    virtual bool isCheckBox() = 0;
};

class ProgressBar : public virtual Control {
public:
    virtual void setRange(int lower, int upper) = 0;
    virtual void setPos(int position) = 0;
    virtual int pos() = 0;
    // The line drawn over the bar (shown at the next repaint).
    virtual void setBarText(const WString& text) = 0;
    virtual WString barText() = 0;
};

class EditBox : public virtual Control {
public:
    virtual void setLimitToMax() = 0;
    // Puts the caret at the end, scrolls it into view and inserts there.
    virtual void append(const WString& text) = 0;
};

// What a backend knows of a navigation when it asks the core about it.
struct WebNavigation {
    // The frame it navigates: the view's page itself, a frame inside the
    // page, or not known yet (WebKit names the frame only once the answer
    // has arrived, and the backend then asks again).
    enum class Frame { Top, Inner, NotYetKnown };

    WebNavigation() = default;
    WebNavigation(WString address, Frame inFrame = Frame::Top, bool byPlayer = false, bool forNewWindow = false)
        : url(std::move(address)), frame(inFrame), userGesture(byPlayer), newWindow(forNewWindow) {}

    WString url;
    Frame frame = Frame::Top;
    // The player's own click or key started it, not a page's script or timer.
    bool userGesture = false;
    // A request for a window of its own (a link with a target, a script's
    // window.open) rather than a link followed in the view.
    bool newWindow = false;
    // Who asked for it, as the engine's request says and no page can forge:
    // the Sec-Fetch-Site relation of the asking document to the address
    // ("same-origin", "same-site", "cross-site", "none" for the owner's own)
    // and the Referer; each empty when not sent. nullopt where the engine
    // does not say (the IE control).
    struct Requester {
        WString fetchSite;
        WString referrer;
    };
    std::optional<Requester> requester;
};

// Hooks of an embedded web view, called on the window's thread. The
// backends report what they know; the rules are the core's.
class WebViewEvents {
public:
    virtual ~WebViewEvents() = default;
    // Before every navigation of the view (BeforeNavigate2), the owner's own
    // included; false cancels it: the view stays where it is and nothing
    // else acts on the address. A backend that learns the frame only with
    // the answer asks first with Frame::NotYetKnown, then again with the
    // frame before the answer is shown.
    virtual bool onBeforeNavigate2(const WebNavigation& navigation) = 0;
    // An address a page is about to open: a clicked link, just before its
    // navigation, or a new-window request (TranslateUrl, NewWindow3).
    virtual void onTranslateUrl(const WebNavigation& navigation) = 0;
};

class WebView : public virtual Control {
public:
    virtual void navigate(const WString& url) = 0;
    // The address last asked for (for checks and tests).
    virtual WString location() = 0;
};

enum class MsgButtons { Ok, OkCancel };
enum class MsgIcon { None, Warning, Error };
enum class MsgResult { Ok, Cancel };

class Dialog;

// What a dialog's owner implements: the backend calls these on the
// dialog's thread.
class DialogHandler {
public:
    virtual ~DialogHandler() = default;
    // The window exists and its template controls are there.
    virtual bool onInitDialog(Dialog& dialog) = 0;
    virtual void onCommand(int /*controlId*/) {}
    virtual void onTimer(int /*timerId*/) {}
    // Enter, and Esc / the close command (Alt+F4, the window manager).
    virtual void onOK() {}
    virtual void onCancel() {}
    // The window is going away; no Dialog call may follow.
    virtual void onDestroy() {}
};

// A dialog window made from a template, handed to its handler.
class Dialog {
public:
    virtual ~Dialog() = default;
    virtual Control* control(int id) = 0;
    virtual ImageButton* imageButton(int id) = 0;
    virtual ProgressBar* progressBar(int id) = 0;
    virtual EditBox* editBox(int id) = 0;
    // Creates a visible child web view; the dialog owns it.
    virtual WebView* createWebView(int id, const Rect& rect, WebViewEvents& events) = 0;

    // Keeps the top-left corner and sets the size, repainting.
    virtual void setSize(int width, int height) = 0;
    virtual Rect windowRect() = 0;  // on screen
    virtual void setIcon(int iconId) = 0;  // big and small icon
    virtual void setTitle(const WString& title) = 0;
    virtual WString title() = 0;
    virtual void removeClientEdge() = 0;
    virtual void minimize() = 0;
    virtual bool isIconic() = 0;
    virtual void endDialog(int result) = 0;
    virtual bool exists() = 0;

    virtual void setTimer(int id, unsigned periodMs) = 0;
    virtual void killTimer(int id) = 0;

    // Skin: a background picture loaded from a bitmap file (false when the
    // file cannot be loaded; the background is then removed), its layout
    // style (0 top-left, 1 tiled, 2 centred, 3 stretched, 4 top-left and
    // the window sized to the picture), dragging by any point, and a colour
    // made transparent and click-through (0x00BBGGRR) where the platform can.
    virtual bool setBackgroundFile(const WString& path) = 0;
    virtual void setBackgroundStyle(int style) = 0;
    virtual void enableDragAnywhere(bool enable) = 0;
    virtual void setColorKey(std::uint32_t colorRef) = 0;

    // The OpenGL renderer name of a context made on this window; empty when
    // none can be made.
    virtual Bytes openGlRenderer() = 0;

    // Runs fn on the dialog's thread and returns when it has run.
    virtual void runOnDialogThread(const std::function<void()>& fn) = 0;
};

class Ui {
public:
    virtual ~Ui() = default;
    // Prepares the common controls and the control container.
    virtual void initialise() = 0;
    // Runs a dialog template modally; returns the result given to endDialog.
    // The Dialog handed to the handler stays a valid object as long as the
    // Ui lives: once its window has gone, calls on it and its controls do
    // nothing and exists() is false, so a worker holding it is safe.
    virtual int runModal(int templateId, DialogHandler& handler, Dialog* owner) = 0;
    // A modal message box (any thread). A null owner: no owner window.
    // Asked by another thread once the program's last window has closed, it
    // is not shown and gives its default answer at once.
    virtual MsgResult messageBox(Dialog* owner, const WString& text, const WString& caption,
                                 MsgButtons buttons, MsgIcon icon) = 0;
    // The narrow message box owned by the desktop: texts in GBK bytes.
    virtual void desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) = 0;
};

// ---------------------------------------------------------------- system

class System {
public:
    virtual ~System() = default;
    // The runtime's parsed command line, program name first.
    virtual std::vector<WString> arguments() = 0;
    virtual void sleep(unsigned milliseconds) = 0;
    // Milliseconds on a clock that only moves forward, whatever happens to
    // the wall clock; for intervals only (its zero is arbitrary).
    virtual std::uint64_t monotonicMs() = 0;
    virtual std::optional<WString> environment(const WString& name) = 0;
    virtual WString currentDirectory() = 0;
    virtual WString moduleFileName() = 0;
    // Programs of the platform's own that the launcher's package carries
    // beside the launcher (names in its folder), placed in the install folder
    // with the launcher's files; none where the system has them, as Windows
    // has regsvr32.
    virtual std::vector<WString> packageFiles() { return {}; }
    // Creates the named mutex with initial ownership; alreadyExisted tells
    // whether another holder had it first.
    virtual std::unique_ptr<NamedMutex> createNamedMutex(const WString& name,
                                                         bool& alreadyExisted) = 0;
    // ANSI code page conversions with the platform's default rules.
    // toAnsi: nullopt when the text cannot be converted at all.
    virtual std::optional<Bytes> toAnsi(const WString& text) = 0;
    virtual WString fromAnsi(const Bytes& text) = 0;
    // The wall clock: seconds since 1970-01-01 00:00:00 UTC by the system's
    // clock, as the player has set it.
    virtual std::int64_t utcSeconds() = 0;
};

// All services together, as handed to the core.
struct Platform {
    FileSystem& files;
    ProfileFiles& profiles;
    Registry& registry;
    Processes& processes;
    Drives& drives;
    Shell& shell;
    Http& http;
    Ui& ui;
    System& system;
};

}  // namespace kvn
