// The record shared by the launcher window and the install worker, and the
// event interface through which downloads and the worker report back.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/fixed_text.h"
#include "platform/platform.h"

namespace kvn {

class CUpdateEventCallback {
public:
    // Sent after each chunk of a download that asked for events.
    virtual void OnDownloadProgress(const WString& /*text*/, std::uint32_t /*done*/,
                                    std::uint32_t /*total*/) {}
    // Sent once when a download that asked for events has succeeded.
    virtual void OnDownloadComplete(const WString& /*url*/, const WString& /*localPath*/) {}
    // Sent by the install worker just before it starts the extraction.
    virtual void OnInstallStart() {}

protected:
    ~CUpdateEventCallback() = default;  // never deleted through this base
};

struct InstallWorkerContext {
    explicit InstallWorkerContext(CUpdateEventCallback* sink) : m_pEventSink(sink) {}

    // Set with release order after m_szExtractDir is written; taken with
    // acquire order by the worker.
    std::atomic<std::uint8_t> m_bExtractRequested{0};
    std::atomic<std::int32_t> m_nInstallDone{0};
    FixedText<256> m_szExtractDir;
    std::thread* m_pWorkerThread = nullptr;
    CUpdateEventCallback* const m_pEventSink;
    // Set by the window before it is destroyed: the worker stops polling.
    std::atomic<bool> m_bStopWorker{false};

    void RequestExtraction() { m_bExtractRequested.store(1, std::memory_order_release); }
    // One exchange: a request raised while it is taken is never lost.
    bool TakeExtractionRequest() {
        return m_bExtractRequested.exchange(0, std::memory_order_acquire) != 0;
    }
};

}  // namespace kvn
