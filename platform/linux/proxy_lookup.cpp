#include "platform/linux/proxy_lookup.h"

#include "platform/platform.h"

namespace kvn::linuxp {

ProxyLookups::ProxyLookups(GProxyResolver* resolver)
    : resolver_(G_PROXY_RESOLVER(g_object_ref(resolver ? resolver : g_proxy_resolver_get_default()))),
      cancel_(g_cancellable_new()) {}

ProxyLookups::~ProxyLookups() {
    g_cancellable_cancel(cancel_);
    for (auto& [url, lookup] : lookups_)
        if (lookup->thread.joinable()) lookup->thread.join();
    g_object_unref(cancel_);
    g_object_unref(resolver_);
}

// GIO's resolvers may be used from any thread; the GNOME one asks a PAC
// runner over D-Bus and gives up on it only after D-Bus's own 25 s.
void ProxyLookups::run(const std::string& url, Lookup& lookup) {
    GError* error = nullptr;
    gchar** list = g_proxy_resolver_lookup(resolver_, url.c_str(), cancel_, &error);
    std::vector<std::string> answer;
    std::string why;
    if (list) {
        for (gchar** p = list; *p; ++p) answer.emplace_back(*p);
        g_strfreev(list);
    } else {
        why = error ? error->message : "no answer";
        g_clear_error(&error);
    }
    std::lock_guard lock(mutex_);
    lookup.answer = std::move(answer);
    lookup.error = std::move(why);
    lookup.done = true;
    changed_.notify_all();
}

std::vector<std::string> ProxyLookups::answer(const std::string& url, Clock::time_point deadline,
                                              const std::atomic<bool>* stop) {
    std::unique_lock lock(mutex_);
    auto& slot = lookups_[url];
    if (!slot) {
        slot = std::make_unique<Lookup>();
        Lookup* lookup = slot.get();
        lookup->thread = std::thread([this, url, lookup] { run(url, *lookup); });
    }
    Lookup& lookup = *slot;
    // Woken by the answer; looks at the stop flag every 50 ms meanwhile.
    while (!lookup.done) {
        if (stop && stop->load()) throw HttpFailure("stopped", HttpFailure::Kind::Stopped);
        const auto now = Clock::now();
        if (now >= deadline)
            throw HttpFailure("the proxy resolver did not answer in time", HttpFailure::Kind::Lookup);
        changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(50)));
    }
    if (!lookup.error.empty())
        throw HttpFailure("no proxy answer for the address: " + lookup.error,
                          HttpFailure::Kind::Lookup);
    return lookup.answer;
}

std::size_t ProxyLookups::started() {
    std::lock_guard lock(mutex_);
    return lookups_.size();
}

}  // namespace kvn::linuxp
