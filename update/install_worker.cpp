#include "update/install_worker.h"

#include "app/config.h"
#include "platform/fixed_text.h"
#include "platform/text.h"

namespace kvn {

namespace {

// Starts a command line hidden in the folder; null when the line does not
// fit its 256-unit buffer or the program cannot be started.
std::unique_ptr<Process> StartHidden(Platform& platform, std::u16string_view pattern,
                                     const WString& dir) {
    FixedText<256> line;
    if (!line.assign(formatS(pattern, {dir, dir}))) return nullptr;
    ProcessStart start;
    start.commandLine = line.str();
    start.workingDirectory = dir;
    start.hidden = true;
    return platform.processes.start(start);
}

// One extraction and registration; m_nInstallDone is set whatever happens.
void Install(Platform& platform, InstallWorkerContext& context) {
    const WString dir = context.m_szExtractDir.str();
    if (context.m_pEventSink) context.m_pEventSink->OnInstallStart();

    auto extractor = StartHidden(platform, u"%s/7zr.exe x -r %s/KVNClient.7z -y", dir);
    const std::optional<std::uint32_t> extracted =
        extractor ? extractor->wait() : std::optional<std::uint32_t>{};
    extractor.reset();
    // An extractor that did not run, or reported a failure, leaves no
    // complete client to register.
    if (!extracted || *extracted != 0) {
        AfxMessageBox(platform, u"解压失败");
        context.m_nInstallDone.store(1);
        return;
    }

    auto registration = StartHidden(platform, u"regsvr32 /s %s/bin/npKVNWebPlayer.dll", dir);
    if (!registration) {
        AfxMessageBox(platform, u"regsvr32");
        context.m_nInstallDone.store(1);
        return;
    }
    registration->wait();
    registration.reset();
    context.m_nInstallDone.store(1);
}

}  // namespace

unsigned InstallWorker(Platform& platform, InstallWorkerContext* context) {
    if (!context) return 0;
    while (!context->m_bStopWorker.load()) {
        platform.system.sleep(64);
        if (context->m_bStopWorker.load()) break;
        if (!context->TakeExtractionRequest()) continue;
        Install(platform, *context);
    }
    return 0;
}

}  // namespace kvn
