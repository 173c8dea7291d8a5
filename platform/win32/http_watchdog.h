// Gives every blocking WinINet call of a request an end.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace kvn::win32 {

// Runs a request's blocking WinINet calls on a thread of its own and waits
// for each until it returns, its deadline passes or the stop flag is set.
// In the last two cases the request's handle is closed, which on Windows
// makes the blocked call return at once (closing a handle from another
// thread is WinINet's way to cancel a synchronous call); the caller does not
// wait for that. Wine does not end the call on a close, so there the thread
// finishes on its own later: it owns everything the call uses (the scratch
// buffer, the result cells), and nothing the caller owns is touched again.
class HttpWatchdog {
public:
    using Clock = std::chrono::steady_clock;
    struct Result {
        BOOL ok = FALSE;
        DWORD error = 0;
    };
    // What a call may use, owned with the thread.
    struct Scratch {
        std::vector<char> buffer;
        DWORD count = 0;
    };
    // For one request; its handle comes with attach(). The low-speed rule
    // of the response head: the deadline of the call that sends the request
    // moves to lowSpeedWindowMs after the connection stands, and again each
    // time lowSpeedBytes of the head have come.
    HttpWatchdog(const std::atomic<bool>* stop, unsigned lowSpeedBytes, unsigned lowSpeedWindowMs);
    ~HttpWatchdog();
    HttpWatchdog(const HttpWatchdog&) = delete;
    HttpWatchdog& operator=(const HttpWatchdog&) = delete;

    // The context value to open the request with: it turns the request's
    // status callback on and leads it to the watchdog's clock.
    DWORD_PTR context() const { return reinterpret_cast<DWORD_PTR>(shared_.get()); }
    // Takes the request handle (and closes it in the end), sets its status
    // callback and starts the thread.
    void attach(HINTERNET request);

    // The handle, for the calls that never block (header queries); made
    // only while no call runs.
    HINTERNET handle() const { return request_; }
    // Runs call(handle, scratch) on the thread. Throws HttpFailure of the
    // given kind at the deadline, of kind Stopped when the flag is set, and
    // at once when an earlier call was given up. `head`: the call sends the
    // request and waits for the response head (the head's rule applies).
    Result run(const std::function<BOOL(HINTERNET, Scratch&)>& call, Clock::time_point deadline,
               HttpFailure::Kind kind, const std::string& why, bool head = false);
    // The scratch space, for filling before a call and reading after it.
    Scratch& scratch() { return shared_->scratch; }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::function<BOOL(HINTERNET, Scratch&)> call;  // set: a call to run
        bool running = false, quit = false;
        Result result;
        Scratch scratch;
        Clock::time_point deadline{};
        HttpFailure::Kind kind = HttpFailure::Kind::Other;
        std::string why;
        // The head's low-speed rule (read and written by the callback only,
        // on the call's thread).
        unsigned lowSpeedBytes = 0;
        std::chrono::milliseconds lowSpeedWindow{0};
        std::size_t headBytes = 0;
        bool head = false;
    };
    static void serve(std::shared_ptr<Shared> shared, HINTERNET request);
    static void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                        DWORD infoLength);
    [[noreturn]] void giveUp(HttpFailure::Kind kind, const std::string& why);

    HINTERNET request_ = nullptr;
    const std::atomic<bool>* stop_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool closed_ = false;
    std::string gaveUp_;  // why an earlier call was given up
    HttpFailure::Kind gaveUpKind_ = HttpFailure::Kind::Other;
};

}  // namespace kvn::win32
