// Round trip of one request and its reply through DaemonComm and DaemonServer
// over loopback, with a server that echoes. Reports the median and the 99th
// percentile of single round trips as counters (microseconds).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "Corvel/DaemonComm.h"
#include "Corvel/DaemonServer.h"
#include "Corvel/EventLogger.h"
#include "Corvel/Semaphore.h"

namespace {

void roundTrip(benchmark::State& state, const std::string& strListen, size_t nPayload)
{
    Corvel::EventLogger::setLevel(Corvel::EventLogger::levelWarning);
    Corvel::DaemonServer server([](Corvel::ConnectionContext&, const std::string& strRequest) { return strRequest; });
    server.listen(strListen);
    server.start();
    Corvel::Semaphore replied;
    Corvel::DaemonComm comm(Corvel::DaemonComm::Callback(
        [&](Corvel::DaemonComm::Status, const std::string&) { replied.signal(false); }));
    std::string s1, s2, strHost;
    int n = 0;
    comm.locateService(s1, s2, strHost, n, server.addresses().front(), "ostreld");
    comm.connect();

    const std::string strRequest(nPayload, 'q');
    std::vector<double> latencyS;
    latencyS.reserve(1 << 16);
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        comm.send(strRequest);
        if (!replied.wait(5000)) {
            state.SkipWithError("no reply within 5 s");
            break;
        }
        latencyS.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    comm.disconnect();
    server.stop();
    if (latencyS.empty()) return;
    std::sort(latencyS.begin(), latencyS.end());
    state.counters["median_us"] = latencyS[latencyS.size() / 2];
    state.counters["p99_us"] = latencyS[std::min(latencyS.size() - 1, latencyS.size() * 99 / 100)];
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(nPayload) * 2);
}

void BM_RoundTripTcp(benchmark::State& state)
{
    roundTrip(state, "127.0.0.1:0", size_t(state.range(0)));
}

void BM_RoundTripUnix(benchmark::State& state)
{
    std::string strPath = "/tmp/ostrel-bench-" + std::to_string(getpid()) + ".sock";
    roundTrip(state, "unix:" + strPath, size_t(state.range(0)));
}

} // namespace

BENCHMARK(BM_RoundTripTcp)->Arg(200)->Arg(16 * 1024)->UseRealTime();
BENCHMARK(BM_RoundTripUnix)->Arg(200)->Arg(16 * 1024)->UseRealTime();

BENCHMARK_MAIN();
