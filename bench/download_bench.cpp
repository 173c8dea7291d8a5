// Download figures of the launcher's own HTTP path on Linux: the real
// backend and DownloadFile, as the self-update uses them. Prints figures;
// asserts nothing.
//
//   download_bench fetch URL FILE RUNS     RUNS timed downloads of URL into FILE
//   download_bench attempts URL FILE N     N timed download attempts (as the
//                                          self-update's retries), each expected
//                                          to fail
//   download_bench record URL FILE N       N attempts at a version record as the
//                                          self-update makes them: under the
//                                          record's ceiling, then the file read
//                                          (at most the ceiling)
//   download_bench record-unbounded URL FILE N
//                                          the same without a ceiling, the file
//                                          read whole (as the self-update did
//                                          before records had a ceiling)
//   download_bench verify FILE RUNS        RUNS timed checks of FILE's signature
//                                          as the self-update makes them (read,
//                                          SHA-512, Ed25519), with a fresh key
//
// Every mode also prints the process's CPU time (user and system).
// Output lines are "key value" pairs for the calling script.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "platform/linux/paths.h"
#include "platform/linux/services.h"
#include "platform/text.h"
#include "update/download.h"
#include "update/update_rules.h"

namespace {

// No window is ever shown here.
class NoUi : public kvn::Ui {
public:
    void initialise() override {}
    int runModal(int, kvn::DialogHandler&, kvn::Dialog*) override { return 0; }
    kvn::MsgResult messageBox(kvn::Dialog*, const kvn::WString&, const kvn::WString&,
                              kvn::MsgButtons, kvn::MsgIcon) override {
        return kvn::MsgResult::Ok;
    }
    void desktopMessageBoxGbk(const kvn::Bytes&, const kvn::Bytes&) override {}
};

struct NoEvents : kvn::CUpdateEventCallback {};

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

int Usage() {
    std::fprintf(stderr, "usage: download_bench fetch|attempts URL FILE COUNT\n"
                         "       download_bench record|record-unbounded URL FILE COUNT\n"
                         "       download_bench verify FILE RUNS\n");
    return 2;
}

// Times what the self-update does with a downloaded file under a build key.
int Verify(int argc, char** argv) {
    const int runs = std::atoi(argv[3]);
    if (runs < 1) return Usage();
    kvn::linuxp::LinuxServices services(argc, argv);
    NoUi ui;
    kvn::Platform platform = services.platform(ui);
    const kvn::WString path = kvn::linuxp::WindowsPath(argv[2]);
    const auto pair = kvn::GenerateEd25519();
    const auto file = platform.files.readFile(path, 0x7fffffff);
    if (!pair || !file) return Usage();
    const auto signature = kvn::SignFile(pair->secretKey, *file);
    std::vector<double> times, reads;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto data = platform.files.readFile(path, 0x7fffffff);
        const auto read = std::chrono::steady_clock::now();
        const bool ok = data && kvn::VerifyFileSignature(pair->publicKey, *data, *signature);
        const double t = Seconds(std::chrono::steady_clock::now() - start);
        times.push_back(t);
        reads.push_back(Seconds(read - start));
        failures += ok ? 0 : 1;
        std::printf("verify %d %.6f (read %.6f) %s\n", i + 1, t, reads.back(), ok ? "ok" : "failed");
    }
    std::sort(times.begin(), times.end());
    std::sort(reads.begin(), reads.end());
    std::printf("median_s %.6f\nread_median_s %.6f\nfailures %d\ncpu_s %.6f\n",
                times[times.size() / 2], reads[reads.size() / 2], failures, CpuSeconds());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "verify") return Verify(argc, argv);
    if (argc != 5) return Usage();
    const std::string mode = argv[1];
    const kvn::WString url = kvn::fromUtf8(argv[2]);
    const kvn::WString target = kvn::linuxp::WindowsPath(argv[3]);
    const int count = std::atoi(argv[4]);
    const bool record = mode == "record" || mode == "record-unbounded";
    if ((mode != "fetch" && mode != "attempts" && !record) || count < 1) return Usage();
    const kvn::DownloadCeiling ceiling =
        mode == "record" ? kvn::DownloadCeiling{kvn::kMaxRecordBytes, false} : kvn::DownloadCeiling{};

    kvn::linuxp::LinuxServices services(argc, argv);
    NoUi ui;
    kvn::Platform platform = services.platform(ui);
    NoEvents events;
    kvn::InstallWorkerContext context(&events);

    std::printf("peak_kib_before %ld\n", PeakKiB());
    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        bool ok = kvn::DownloadFile(platform, context, url, target, false, ceiling);
        if (ok && record) {
            // What the self-update then reads of it to check its signature.
            const auto data = platform.files.readFile(target, ceiling.maxBytes);
            ok = data.has_value();
            if (data) std::printf("read_bytes %zu\n", data->size());
        }
        const double t = Seconds(std::chrono::steady_clock::now() - start);
        times.push_back(t);
        failures += ok ? 0 : 1;
        std::printf("%s %d %.6f %s\n", mode == "attempts" ? "attempt" : "run", i + 1, t,
                    ok ? "ok" : "failed");
        std::fflush(stdout);
    }
    double total = 0;
    for (double t : times) total += t;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("median_s %.6f\n", sorted[sorted.size() / 2]);
    std::printf("total_s %.6f\n", total);
    std::printf("failures %d\n", failures);
    std::printf("peak_kib %ld\n", PeakKiB());
    std::printf("cpu_s %.6f\n", CpuSeconds());
    return 0;
}
