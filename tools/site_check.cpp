#include "tools/site_check.h"

#include <optional>

#include "update/complete_files.h"
#include "update/update_rules.h"

namespace kvn::tools {
namespace {

Verdict Refused(const std::string& file, const std::string& reason, const std::string& detail) {
    return {file, false, reason, detail};
}

// A file and its signature as a launcher fetches and checks them: the
// file's own fetch first (its length against the limit), then the
// signature. The body when both arrived and the signature holds.
// `arrived` gets the body when the file itself arrived, signature or not.
std::optional<std::string> FetchSigned(const FetchFile& fetch, const std::string& name, FetchLimit limit,
                                       const std::vector<std::string>& keys, Verdict& verdict,
                                       std::optional<std::string>* arrived = nullptr) {
    Fetched file = fetch(name, limit);
    if (!file.ok) {
        verdict = Refused(name, file.reason, file.problem);
        return std::nullopt;
    }
    if (arrived) *arrived = file.body;
    // A signature is fetched as exactly 64 bytes; any failure of it is a
    // failed signature to the launcher.
    const Fetched signature = fetch(name + ".sig", FetchLimit{kSignatureBytes, true});
    if (!signature.ok) {
        verdict = Refused(name, kReasonSignature,
                          name + ".sig: " + signature.problem + " (a signature is exactly 64 bytes)");
        return std::nullopt;
    }
    if (!VerifyWithAnyKey(keys, file.body, signature.body)) {
        verdict = Refused(name, kReasonSignature,
                          keys.size() == 1 ? "not signed with the key given"
                                           : "not signed with any of the " + std::to_string(keys.size()) +
                                                 " keys given");
        return std::nullopt;
    }
    return std::move(file.body);
}

// A file the record announces: fetched under the record's demand, then
// held to it.
Verdict CheckAnnounced(const FetchFile& fetch, const std::string& name, const FileDemand& demand,
                       const std::vector<std::string>& keys, bool launcher) {
    Verdict verdict;
    if (demand.fault != FileFault::None)
        return Refused(name, ReasonWord(demand.fault), Describe(demand.fault));
    const auto body = FetchSigned(fetch, name, FetchLimit{demand.ceiling, demand.exactSize}, keys, verdict);
    if (!body) return verdict;
    FileFault fault = launcher ? CheckLauncherFile(*body, demand) : CheckBackgroundFile(*body, demand);
    // The record's launcher is for players' machines, whichever kind the
    // machine running this check is: a whole program of the other kind is
    // taken by the launchers of that kind.
    ProgramKind programKind = kLauncherProgramKind;
    if (launcher && fault == FileFault::Incomplete) {
        const ProgramKind other =
            programKind == ProgramKind::Elf ? ProgramKind::WindowsGuiX64 : ProgramKind::Elf;
        if (IsCompleteProgram(*body, other)) {
            fault = FileFault::None;
            programKind = other;
        }
    }
    const std::string kind = !launcher ? "a whole bitmap"
                             : programKind == ProgramKind::Elf ? "a whole ELF program"
                                                               : "a whole x86-64 Windows GUI program";
    if (fault != FileFault::None) {
        std::string detail = Describe(fault);
        if (fault == FileFault::TooLarge || fault == FileFault::WrongSize)
            detail += ": " + std::to_string(body->size()) + " bytes, " +
                      (demand.exactSize ? "the record names " : "the ceiling is ") +
                      std::to_string(demand.ceiling);
        if (fault == FileFault::Incomplete && !launcher) {
            const auto size = CompleteBitmapSize(*body);
            detail = size ? "a bitmap of " + std::to_string(size->width) + " x " +
                                std::to_string(size->height) + ", smaller than the window (" +
                                std::to_string(kWindowWidth) + " x " + std::to_string(kWindowHeight) + ")"
                          : "not a whole bitmap the launcher can load";
        }
        if (fault == FileFault::Incomplete && launcher) detail = "not a whole program of either kind";
        return Refused(name, ReasonWord(fault), detail);
    }
    std::string detail = std::to_string(body->size()) + " bytes, " + kind;
    if (!launcher) {
        const auto size = CompleteBitmapSize(*body);
        detail += " of " + std::to_string(size->width) + " x " + std::to_string(size->height);
    }
    detail += demand.digest ? ", digest and " : ", ";
    detail += demand.exactSize ? "size as the record names" : "within the ceiling";
    return {name, true, "", detail};
}

}  // namespace

std::vector<Verdict> CheckSite(const FetchFile& fetch, const std::vector<std::string>& keys,
                               std::int64_t nowUtc) {
    std::vector<Verdict> verdicts;
    const std::string recordName = "LoginExeVersionInfo.ini";
    Verdict recordVerdict;
    const auto recordBytes =
        FetchSigned(fetch, recordName, FetchLimit{kMaxRecordBytes, false}, keys, recordVerdict);
    VersionRecord record;
    if (recordBytes) {
        record = ParseVersionRecord(*recordBytes);
        // Against a stored record of zeros: only the expiry (and a negative
        // file number) can refuse a record that arrived whole and signed.
        const RecordFault fault = CheckRecord(record, VersionRecord{}, true, nowUtc);
        if (fault == RecordFault::None) {
            std::string detail = std::to_string(recordBytes->size()) + " bytes; LoginExeVersionNumber " +
                                 std::to_string(record.launcher) + ", DlgBackVersionNumber " +
                                 std::to_string(record.background) + ", VersionNumber " +
                                 std::to_string(record.required);
            detail += record.expires.valid() ? "; expires " + FormatUtcTime(record.expires.value)
                                             : "; no expiry";
            recordVerdict = {recordName, true, "", detail};
        } else {
            recordVerdict = Refused(recordName, ReasonWord(fault),
                                    std::string(Describe(fault)) +
                                        (fault == RecordFault::Expired
                                             ? " (" + FormatUtcTime(record.expires.value) + ")"
                                             : ""));
        }
    }
    verdicts.push_back(recordVerdict);
    if (!recordVerdict.taken) {
        // A refused record is not taken, so launchers keep the one they
        // have and hold no file to this one.
        for (const char* name : {"LauncherDlg.bmp", "Login.exe"}) {
            Verdict v{name, false, "", "no record", false};
            verdicts.push_back(v);
        }
        return verdicts;
    }
    // As a launcher with older files fetches them: the record's numbers
    // above its own, so the digests are required.
    verdicts.push_back(CheckAnnounced(fetch, "LauncherDlg.bmp", BackgroundDemand(record, true, true), keys,
                                      false));
    verdicts.push_back(CheckAnnounced(fetch, "Login.exe", LauncherDemand(record, true), keys, true));
    return verdicts;
}

std::string Report(const std::vector<Verdict>& verdicts) {
    std::string out;
    for (const Verdict& v : verdicts)
        out += v.file + (!v.judged  ? ": not judged (" + v.detail + ")\n"
                         : v.taken ? ": taken (" + v.detail + ")\n"
                                   : ": REFUSED (" + v.reason + "): " + v.detail + "\n");
    return out;
}

}  // namespace kvn::tools
