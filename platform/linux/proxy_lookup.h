// The proxy resolver's answers for the downloads, asked once per address.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvn::linuxp {

// Each address is looked up once for the life of the backend: every attempt
// at it shares the answer, or the failure. A lookup runs on a thread of its
// own, so that a request waiting for it can give up at its deadline or when
// stopped, while the lookup goes on for the attempts that follow.
class ProxyLookups {
public:
    using Clock = std::chrono::steady_clock;
    // Holds a reference to the resolver; null: GIO's default resolver.
    explicit ProxyLookups(GProxyResolver* resolver);
    // Cancels the lookups still under way and waits for their threads.
    ~ProxyLookups();
    ProxyLookups(const ProxyLookups&) = delete;
    ProxyLookups& operator=(const ProxyLookups&) = delete;

    // The resolver's list for the URL, best first. Throws HttpFailure (Lookup)
    // when the resolver failed or has not answered by the deadline, and
    // (Stopped) once the stop flag reads true.
    std::vector<std::string> answer(const std::string& url, Clock::time_point deadline,
                                    const std::atomic<bool>* stop);
    // How many lookups have been started (for checks).
    std::size_t started();

private:
    struct Lookup {
        bool done = false;
        std::vector<std::string> answer;
        std::string error;  // the resolver's failure; empty when it answered
        std::thread thread;
    };
    void run(const std::string& url, Lookup& lookup);

    GProxyResolver* resolver_;
    GCancellable* cancel_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::unique_ptr<Lookup>> lookups_;
};

}  // namespace kvn::linuxp
