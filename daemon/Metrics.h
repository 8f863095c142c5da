#ifndef OSTRELD_METRICS_H
#define OSTRELD_METRICS_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Corvel/Mutex.h"

namespace Ostreld {

// Observations with their count and sum, by fixed upper bounds. Observing is lock-free and
// allocates nothing; a reader may see an observation counted in its bucket and not yet in the sum.
class Histogram {
public:
    // boundUsS: the buckets' upper bounds in microseconds, ascending; one more bucket takes the rest.
    explicit Histogram(std::vector<std::uint64_t> boundUsS);
    void observe(std::chrono::steady_clock::duration took);
    // Appends the histogram's _bucket, _sum and _count lines, in seconds, under strName.
    void expose(std::string& strText, const char* pszName) const;

private:
    const std::vector<std::uint64_t> _boundUsS;
    std::unique_ptr<std::atomic<std::uint64_t>[]> _pcountS;  // by bucket, not cumulated; one past the bounds
    std::atomic<std::uint64_t> _nSumUs{0};
};

// What ostreld counts for its operators, served by a MetricsListener in the text format Prometheus
// scrapes. One object, owned by main and handed to what counts; when metrics are off there is none,
// and every hook costs its caller one null check. Counting is relaxed atomics in arrays fixed at
// construction: no lock, no allocation on the request path. A scrape reads each counter as it is at
// that moment, so two of them need not agree to the last request.
class Metrics {
public:
    enum LoginOutcome { loginSucceeded, loginFailed, loginLockedOut, nLoginOutcomes };

    // What a scrape asks the daemon at the time of asking; each may be left empty. Set before a
    // listener starts; called on the listener's threads.
    struct Sources {
        std::function<long()> connections;   // client connections open
        std::function<long()> keptSessions;  // negative when they cannot be counted now
        // "" when the daemon is fit to serve, else a short reason for the operator: never a
        // database's own error text or connect string.
        std::function<std::string()> healthProblem;
    };

    // requestNameS: the protocol's request names (static texts), the only request labels there are;
    // any other request is counted as "other", whatever it was called.
    explicit Metrics(std::vector<const char*> requestNameS);
    Metrics(const Metrics&) = delete;
    Metrics& operator=(const Metrics&) = delete;

    // The index requestAnswered takes for a request outside the names.
    std::size_t otherRequest() const { return _requestNameS.size(); }
    // nRequest: an index of the names given, or otherRequest().
    void requestAnswered(std::size_t nRequest, bool bOk)
    {
        if (nRequest > otherRequest()) nRequest = otherRequest();
        _prequestS[2 * nRequest + (bOk ? 0 : 1)].fetch_add(1, std::memory_order_relaxed);
    }
    // took: from the login's arrival (after any failure delay) to its answer.
    void loginFinished(LoginOutcome outcome, std::chrono::steady_clock::duration took)
    {
        _loginS[outcome].fetch_add(1, std::memory_order_relaxed);
        _loginTimes.observe(took);
    }
    void reloadFinished(bool bOk, std::chrono::steady_clock::duration took)
    {
        _reloadS[bOk ? 0 : 1].fetch_add(1, std::memory_order_relaxed);
        _reloadTimes.observe(took);
    }
    void databaseFailed() { _nDatabaseErrors.fetch_add(1, std::memory_order_relaxed); }
    // The model's size, as loaded or reloaded.
    void setModelSize(long nDomains, long nUsers, long nTeams, long nProducts);

    void setSources(Sources sources) { _sources = std::move(sources); }

    // Every metric in the text exposition format 0.0.4.
    std::string exposition() const;
    // "" when the daemon is fit to serve, else why not (see Sources).
    std::string healthProblem() const;

private:
    const std::vector<const char*> _requestNameS;
    std::unique_ptr<std::atomic<std::uint64_t>[]> _prequestS;  // by request, then ok / error
    std::atomic<std::uint64_t> _loginS[nLoginOutcomes] = {};
    Histogram _loginTimes;
    std::atomic<std::uint64_t> _reloadS[2] = {};  // ok, error
    Histogram _reloadTimes;
    std::atomic<std::uint64_t> _nDatabaseErrors{0};
    std::atomic<long> _nDomains{0}, _nUsers{0}, _nTeams{0}, _nProducts{0};
    Sources _sources;
    // The last answer of the health source, and when it came.
    mutable Corvel::Mutex _mxProbe;  // held while the source is asked
    mutable Corvel::Mutex _mxHealth;
    mutable std::string _strHealth CORVEL_GUARDED_BY(_mxHealth);
    mutable std::chrono::steady_clock::time_point _tHealth CORVEL_GUARDED_BY(_mxHealth);
    mutable bool _bHealthKnown CORVEL_GUARDED_BY(_mxHealth) = false;
    mutable std::chrono::steady_clock::time_point _tProbeStarted CORVEL_GUARDED_BY(_mxHealth);
};

// Serves one Metrics over HTTP: GET /metrics (the exposition) and GET /healthz (200 "ok", or 503
// with the reason); anything else is 404. Small on purpose: two threads, a short queue of accepted
// connections (beyond it new ones wait in the kernel's backlog), short read and write time-outs,
// and no request body.
class MetricsListener {
public:
    // Reads an address as --metrics takes it: "host:port", "[v6addr]:port" or "port" (on
    // 127.0.0.1); port 0 lets the system choose. False when it is none of these.
    static bool parseAddress(const std::string& strAddress, std::string& strHost, int& nPort);

    // Binds and serves on threads of its own; throws std::runtime_error naming the address when it
    // cannot. The metrics must outlive the listener.
    MetricsListener(const Metrics& metrics, const std::string& strAddress);
    // Stops taking connections, lets those in progress end (within the time-outs) and joins the
    // threads.
    ~MetricsListener();
    MetricsListener(const MetricsListener&) = delete;
    MetricsListener& operator=(const MetricsListener&) = delete;

    // "host:port" as listened on, the port chosen by the system when 0 was asked.
    const std::string& address() const { return _strAddress; }

private:
    struct Server;
    std::unique_ptr<Server> _pserver;
    std::string _strAddress;
};

} // namespace Ostreld

#endif
