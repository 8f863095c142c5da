// The XML form of a large authenticated user against a plain pugixml parse and
// serialisation of the same text, and one request/response over loopback.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "Corvel/DaemonServer.h"
#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/Encoding.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "OstrelDataXML/OstrelService.h"

using OstrelDataXML::Factory;

namespace {

using S = OstrelData::PRStatus;

// 20 products, each with 20 roles and 20 permissions.
struct LargeUser {
    OstrelData::Customer customer{"BENCH", "Bench Ltd"};
    OstrelData::Domain domain{customer, "BENCH-DOMAIN"};
    OstrelData::AuthenticatedUser user;

    LargeUser()
    {
        OstrelData::User plain(domain, "alice", "Alice Example", "", "alice@example.org");
        for (int nProduct = 1; nProduct <= 20; ++nProduct) {
            OstrelData::Product product(nProduct);
            product.setDescription("Product " + std::to_string(nProduct));
            for (int n = 1; n <= 20; ++n) {
                product.roles().emplace(n, OstrelData::Role(product, n, "Role " + std::to_string(n),
                                                            S(n % 3 == 0 ? S::statusGranted : S::statusDenied)));
                product.permissions().emplace(
                    n, OstrelData::Permission(product, n, "Permission " + std::to_string(n),
                                              S(n % 2 == 0 ? S::statusGranted : S::statusRevoked)));
            }
            product.resetPR();
            plain.products().emplace(nProduct, product);
        }
        user = OstrelData::AuthenticatedUser(plain, OstrelData::SessionString("S-BENCH"), OstrelData::Profile("day"));
    }

    std::string text() const
    {
        Vesk::XMLDoc doc = Factory::Envelope::response("authenticateduser");
        Factory::AuthenticatedUser::toXML(doc.rootNode(), user);
        return doc.stream().str();
    }
};

const LargeUser& largeUser()
{
    static LargeUser s_user;
    return s_user;
}

void BM_CodecEncode(benchmark::State& state)
{
    const LargeUser& large = largeUser();
    for (auto _ : state) {
        Vesk::XMLDoc doc = Factory::Envelope::response("authenticateduser");
        Factory::AuthenticatedUser::toXML(doc.rootNode(), large.user);
        benchmark::DoNotOptimize(doc.stream());
    }
}
BENCHMARK(BM_CodecEncode)->Unit(benchmark::kMicrosecond);

void BM_CodecDecode(benchmark::State& state)
{
    const std::string strText = largeUser().text();
    for (auto _ : state) {
        Vesk::XMLDoc doc = Vesk::XMLDoc::parse(strText);
        OstrelData::AuthenticatedUser user = Factory::AuthenticatedUser::fromXML(doc.rootNode()->findChild("authenticateduser"));
        benchmark::DoNotOptimize(user);
    }
    state.counters["bytes"] = double(strText.size());
}
BENCHMARK(BM_CodecDecode)->Unit(benchmark::kMicrosecond);

// The codec's whole trip: model to text and back.
void BM_CodecEncodeAndDecode(benchmark::State& state)
{
    const LargeUser& large = largeUser();
    for (auto _ : state) {
        Vesk::XMLDoc doc = Factory::Envelope::response("authenticateduser");
        Factory::AuthenticatedUser::toXML(doc.rootNode(), large.user);
        Vesk::XMLDoc back = Vesk::XMLDoc::parse(doc.stream());
        OstrelData::AuthenticatedUser user = Factory::AuthenticatedUser::fromXML(back.rootNode()->findChild("authenticateduser"));
        benchmark::DoNotOptimize(user);
    }
}
BENCHMARK(BM_CodecEncodeAndDecode)->Unit(benchmark::kMicrosecond);

// The daemon's way to the same text: the encoders written straight as text, no document between.
void BM_CodecTextEncode(benchmark::State& state)
{
    const LargeUser& large = largeUser();
    for (auto _ : state)
        benchmark::DoNotOptimize(OstrelDataXML::encoding::responseText("authenticateduser", large.user));
}
BENCHMARK(BM_CodecTextEncode)->Unit(benchmark::kMicrosecond);

// The whole trip with the encoding the daemon uses for its login replies.
void BM_CodecTextEncodeAndDecode(benchmark::State& state)
{
    const LargeUser& large = largeUser();
    for (auto _ : state) {
        Vesk::XMLDoc back = Vesk::XMLDoc::parse(OstrelDataXML::encoding::responseText("authenticateduser", large.user));
        OstrelData::AuthenticatedUser user = Factory::AuthenticatedUser::fromXML(back.rootNode()->findChild("authenticateduser"));
        benchmark::DoNotOptimize(user);
    }
}
BENCHMARK(BM_CodecTextEncodeAndDecode)->Unit(benchmark::kMicrosecond);

// What the codec is measured against: pugixml reading the same text and
// writing it out again, with no model behind it.
void BM_PlainParseAndSerialise(benchmark::State& state)
{
    const std::string strText = largeUser().text();
    for (auto _ : state) {
        pugi::xml_document doc;
        doc.load_buffer(strText.data(), strText.size());
        std::ostringstream os;
        doc.save(os);
        benchmark::DoNotOptimize(os.str());
    }
}
BENCHMARK(BM_PlainParseAndSerialise)->Unit(benchmark::kMicrosecond);

// ---- One transaction over loopback ----------------------------------------------

void BM_TransactLoopback(benchmark::State& state)
{
    // The trivial echo: the request comes back as its own response.
    Corvel::DaemonServer server([](Corvel::ConnectionContext&, const std::string& strRequest) { return strRequest; });
    server.listen("127.0.0.1:0");
    server.start();
    OstrelDataXML::OstrelService::connect(server.addresses().front());

    Vesk::XMLDoc docRequest = Factory::Envelope::request("who");
    Vesk::XMLDoc docResponse;
    std::vector<double> latencyS;
    latencyS.reserve(1 << 16);
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        OstrelDataXML::OstrelService::transact(docResponse, docRequest);
        latencyS.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    OstrelDataXML::OstrelService::disconnect();
    server.stop();

    std::sort(latencyS.begin(), latencyS.end());
    if (!latencyS.empty()) {
        state.counters["median_us"] = latencyS[latencyS.size() / 2];
        state.counters["p99_us"] = latencyS[std::min(latencyS.size() - 1, latencyS.size() * 99 / 100)];
    }
}
BENCHMARK(BM_TransactLoopback)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
