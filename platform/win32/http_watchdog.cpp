#include "platform/win32/http_watchdog.h"

namespace kvn::win32 {

namespace {
// How often the waiting caller reads the stop flag and the clock; well
// inside the 250 ms a stop may take.
constexpr auto kTick = std::chrono::milliseconds(50);
}  // namespace

HttpWatchdog::HttpWatchdog(const std::atomic<bool>* stop, unsigned lowSpeedBytes,
                           unsigned lowSpeedWindowMs)
    : stop_(stop), shared_(std::make_shared<Shared>()) {
    shared_->lowSpeedBytes = lowSpeedBytes;
    shared_->lowSpeedWindow = std::chrono::milliseconds(lowSpeedWindowMs);
}

void HttpWatchdog::attach(HINTERNET request) {
    request_ = request;
    InternetSetStatusCallbackW(request, &HttpWatchdog::statusCallback);
    thread_ = std::thread(&HttpWatchdog::serve, shared_, request);
}

HttpWatchdog::~HttpWatchdog() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->quit = true;
        shared_->changed.notify_all();
    }
    if (request_ && !closed_) InternetCloseHandle(request_);
    if (!thread_.joinable()) return;
    // A thread still inside a given-up call ends once WinINet lets it go;
    // it shares what it uses, so it may outlive this object.
    if (gaveUp_.empty()) thread_.join();
    else thread_.detach();
}

// Runs on the call's thread, inside the call, while the thread holds the
// shared part; the handle's closing (which may come later) is passed over
// without touching it.
void CALLBACK HttpWatchdog::statusCallback(HINTERNET, DWORD_PTR context, DWORD status,
                                           LPVOID info, DWORD infoLength) {
    if (status != INTERNET_STATUS_CONNECTED_TO_SERVER && status != INTERNET_STATUS_RESPONSE_RECEIVED)
        return;
    auto* shared = reinterpret_cast<Shared*>(context);
    if (!shared) return;
    if (status == INTERNET_STATUS_RESPONSE_RECEIVED) {
        if (!info || infoLength < sizeof(DWORD)) return;
        shared->headBytes += *static_cast<const DWORD*>(info);
        if (shared->headBytes < shared->lowSpeedBytes) return;
    }
    shared->headBytes = 0;
    std::lock_guard lock(shared->mutex);
    // Only while the request is sent: the reads keep their own deadlines.
    if (!shared->head) return;
    shared->deadline = Clock::now() + shared->lowSpeedWindow;
    shared->kind = HttpFailure::Kind::TooSlow;
    shared->why = "fewer than " + std::to_string(shared->lowSpeedBytes) + " bytes arrived in " +
                  std::to_string(shared->lowSpeedWindow.count()) + " ms (response head)";
}

void HttpWatchdog::serve(std::shared_ptr<Shared> shared, HINTERNET request) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->quit || shared->call; });
        if (!shared->call) return;
        auto call = std::move(shared->call);
        shared->call = nullptr;
        lock.unlock();
        Result result;
        result.ok = call(request, shared->scratch);
        result.error = GetLastError();
        lock.lock();
        shared->result = result;
        shared->running = false;
        shared->changed.notify_all();
        if (shared->quit) return;
    }
}

void HttpWatchdog::giveUp(HttpFailure::Kind kind, const std::string& why) {
    gaveUp_ = why;
    gaveUpKind_ = kind;
    if (!closed_) {
        closed_ = true;
        InternetCloseHandle(request_);
    }
    throw HttpFailure(why, kind);
}

HttpWatchdog::Result HttpWatchdog::run(const std::function<BOOL(HINTERNET, Scratch&)>& call,
                                       Clock::time_point deadline, HttpFailure::Kind kind,
                                       const std::string& why, bool head) {
    if (!gaveUp_.empty()) throw HttpFailure(gaveUp_, gaveUpKind_);
    std::unique_lock lock(shared_->mutex);
    shared_->head = head;
    shared_->headBytes = 0;
    shared_->deadline = deadline;
    shared_->kind = kind;
    shared_->why = why;
    shared_->call = call;
    shared_->running = true;
    shared_->changed.notify_all();
    while (shared_->running) {
        if (stop_ && stop_->load()) {
            lock.unlock();
            giveUp(HttpFailure::Kind::Stopped, "stopped");
        }
        if (Clock::now() >= shared_->deadline) {
            const auto k = shared_->kind;
            const std::string w = shared_->why;
            lock.unlock();
            giveUp(k, w);
        }
        shared_->changed.wait_for(lock, kTick);
    }
    return shared_->result;
}

}  // namespace kvn::win32
