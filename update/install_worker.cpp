#include "update/install_worker.h"

#include "app/config.h"
#include "install/install_dir.h"
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

// Takes the install lock, waiting while another launcher holds it; null
// when the window goes away meanwhile. `waited` tells whether it was held.
std::unique_ptr<NamedMutex> TakeInstallLock(Platform& platform, InstallWorkerContext& context,
                                            bool& waited) {
    waited = false;
    for (;;) {
        bool held = false;
        auto lock = platform.system.createNamedMutex(kInstallLockName, held);
        if (!held) return lock;
        lock.reset();
        waited = true;
        if (context.m_bStopWorker.load()) return nullptr;
        platform.system.sleep(64);
    }
}

// One extraction and registration; m_nInstallDone is set whatever happens.
// The folder's unfinished mark reads "unpacked" once 7-Zip has succeeded and
// goes once regsvr32 has run, whatever its exit code: a registration that
// ran counts as done, as one that cannot be started does once it has been
// reported (the next start could do no better, and would keep the launcher
// from updating itself). Only a kill or a power cut leaves the mark, and a
// failed extraction, which the next start redoes.
void Install(Platform& platform, InstallWorkerContext& context) {
    const WString dir = context.m_szExtractDir.str();
    bool waited = false;
    const auto lock = TakeInstallLock(platform, context, waited);
    if (!lock) return;
    if (waited && !IsInstallUnfinished(platform, dir)) {
        // The launcher that held the lock has finished this installation.
        context.m_nInstallDone.store(1);
        return;
    }
    if (context.m_pEventSink) context.m_pEventSink->OnInstallStart();

    // A client unpacked in full before a cut is only registered.
    if (!IsClientUnpacked(platform, dir)) {
        auto extractor = StartHidden(platform, u"%s/7zr.exe x -r %s/KVNClient.7z -y", dir);
        const std::optional<std::uint32_t> extracted =
            extractor ? extractor->wait() : std::optional<std::uint32_t>{};
        extractor.reset();
        // 7-Zip's exit code 1 is a warning (a file it could not overwrite,
        // say); 2 and above, or no run at all, leave no complete client to
        // register.
        if (!extracted || *extracted > 1) {
            AfxMessageBox(platform, u"解压失败");
            context.m_nInstallDone.store(1);
            return;
        }
        if (IsInstallUnfinished(platform, dir)) MarkInstallUnpacked(platform, dir);
    }

    auto registration = StartHidden(platform, u"regsvr32 /s %s/bin/npKVNWebPlayer.dll", dir);
    if (!registration) {
        MarkInstallFinished(platform, dir);
        AfxMessageBox(platform, u"regsvr32");
        context.m_nInstallDone.store(1);
        return;
    }
    registration->wait();
    registration.reset();
    MarkInstallFinished(platform, dir);
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
