// The Content-Length reading and the decision it drives, through
// DownloadFile against the fake server. Properties:
// - the expected total is the header read as RFC 9110 has it (digits only,
//   or a list of identical ones; a reference reading written apart), none
//   when the header is not of that form or above the ceiling, 0 when there
//   is no header;
// - the download succeeds exactly when the status is 200, the header gives
//   a total and the body has that many bytes; then the file holds the
//   body, otherwise the old file stays byte for byte and no partial file is
//   left;
// - progress events never go back, carry that total, never pass it, and
//   the last one carries the whole body when the header announced at least
//   that much (a longer body is cut off just past the announced length).
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "fake/fake_platform.h"
#include "update/download.h"

namespace {

struct Events : kvn::CUpdateEventCallback {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
    int completed = 0;
    void OnDownloadProgress(const kvn::WString&, std::uint32_t done, std::uint32_t total) override {
        progress.emplace_back(done, total);
    }
    void OnDownloadComplete(const kvn::WString&, const kvn::WString&) override { ++completed; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool ok200 = in.ConsumeProbability<double>() < 0.9;
    const std::size_t bodySize = in.ConsumeIntegralInRange<std::size_t>(0, 5000);
    std::optional<std::string> header;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:  // the body's length, as a server may decorate it
        header = in.ConsumeRandomLengthString(4) + std::to_string(bodySize) + in.ConsumeRandomLengthString(4);
        break;
    case 1:
        header = in.ConsumeRandomLengthString(30);
        break;
    case 2: {  // a list of lengths near the body's, blanks and signs around the commas
        header.emplace();
        const int members = in.ConsumeIntegralInRange(1, 4);
        for (int i = 0; i < members; ++i) {
            if (i > 0) *header += ",";
            *header += std::string(in.ConsumeIntegralInRange(0, 2), in.ConsumeBool() ? ' ' : '\t');
            static const char* const kSigns[] = {"", "", "", "+", "-", "0"};
            *header += kSigns[in.ConsumeIntegralInRange(0, 5)];
            const bool other = in.ConsumeProbability<double>() < 0.2;  // a member that differs
            *header += std::to_string(other ? bodySize + 1 : bodySize);
            *header += std::string(in.ConsumeIntegralInRange(0, 2), in.ConsumeBool() ? ' ' : '\t');
        }
        break;
    }
    default:
        break;  // no header
    }
    const std::string old = in.ConsumeRandomLengthString(16);
    kvn::Bytes body(bodySize, 'x');
    const std::string fill = in.ConsumeRemainingBytesAsString();
    for (std::size_t i = 0; i < fill.size() && i < body.size(); ++i) body[i] = fill[i];

    kvn::fake::FakePlatform fake;
    kvn::fake::FakeHttpAnswer answer;
    answer.status = ok200 ? 200 : 302;
    answer.contentLength = header;
    answer.body = body;
    fake.http.answers[u"/download/f.bin"].push_back(answer);
    const kvn::WString local = u"C:\\Korvanis\\f.bin";
    fake.files.put(local, old);

    Events events;
    kvn::InstallWorkerContext context(&events);
    const bool got = kvn::DownloadFile(fake, context, u"http://127.0.0.1/download/f.bin", local, true);

    const std::optional<unsigned long long> reference =
        header ? kvnfuzz::ReferenceContentLength(*header) : std::optional<unsigned long long>(0);
    // The default ceiling: the largest 32-bit byte count.
    const bool lengthTaken = reference && *reference <= 0x7fffffffull;
    const long long announced = lengthTaken ? static_cast<long long>(*reference) : -1;
    const std::uint32_t total = lengthTaken ? static_cast<std::uint32_t>(*reference) : 0;
    const bool expected = ok200 && lengthTaken && body.size() == total;
    KVN_PROPERTY(got == expected);
    KVN_PROPERTY(fake.files.get(local) == (got ? body : old));
    KVN_PROPERTY(!fake.files.get(local + u".part"));
    KVN_PROPERTY(events.completed == (got ? 1 : 0));
    if (ok200) {
        std::uint32_t last = 0;
        for (auto& [done, eventTotal] : events.progress) {
            KVN_PROPERTY(done >= last && done <= total && eventTotal == total);
            last = done;
        }
        if (body.empty() || announced < 0)
            KVN_PROPERTY(events.progress.empty());
        else if (static_cast<std::uint64_t>(announced) >= body.size())
            KVN_PROPERTY(last == body.size());
    }
    return 0;
}
