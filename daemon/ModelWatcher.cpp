#include "ModelWatcher.h"

#include <algorithm>
#include <chrono>

#include "Corvel/EventLogger.h"
#include "OstrelDal/OstrelDal.h"
#include "VeskDal/DalDynamic.h"

namespace Ostreld {

namespace {

// The channel the schema's triggers notify on PostgreSQL.
const char* const pszChannel = "ostrel_model";

// How long one wait for a notification lasts at most, so that a stop is seen soon.
constexpr long nListenSliceMs = 500;

// After a notification, further ones are taken while they come this close together, a few times
// at most.
constexpr long nSettleMs = 100;
constexpr int nSettleRounds = 10;

} // namespace

namespace {

std::int64_t readCounter()
{
    VeskDal::DalDatabase::Result result;
    OstrelDal::Connection connection = OstrelDal::connection();
    OstrelDal::ModelChangeQuery query(OstrelDal::schema());
    query.constrainId(VeskDal::SqlInteger(1));
    query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
    return result.empty() ? 0 : result.front()["Counter"].asInt64();
}

} // namespace

ModelWatcher::ModelWatcher(const std::string& strConnect, long nIntervalMs,
                           std::function<void(const std::string&)> reload, std::function<bool()> whole,
                           std::int64_t nSeenAtLoad)
    : _strConnect(strConnect), _nIntervalMs(nIntervalMs), _reload(std::move(reload)), _whole(std::move(whole))
{
    // Never read here: a counter read after the model was loaded could take a change made
    // meanwhile as seen. Unknown, the first look reloads; a watcher made anew on a SIGHUP has
    // reloadNow come straight after, which sets it.
    {
        Corvel::MutexLock look(_mxLook);
        _nSeen = nSeenAtLoad;
    }
    _thread = std::thread([this] { run(); });
}

std::int64_t ModelWatcher::counterBeforeLoad(const std::string& strConnect)
{
    try {
        OstrelDal::connect(strConnect);
        return readCounter();
    } catch (const std::exception&) {
    }
    return -1;
}

ModelWatcher::~ModelWatcher()
{
    {
        Corvel::MutexLock lock(_mx);
        _bStop = true;
    }
    _cv.notifyAll();
    _thread.join();
}

void ModelWatcher::reloadNow(const std::string& strWhy)
{
    Corvel::MutexLock look(_mxLook);
    const std::int64_t nNow = counter();
    _reload(strWhy);
    if (nNow >= 0) _nSeen = nNow;
}

std::int64_t ModelWatcher::counter()
{
    try {
        const std::int64_t nCounter = readCounter();
        _bWarned = false;
        return nCounter;
    } catch (const VeskDal::DalDatabaseException& e) {
        if (!_bWarned)
            Corvel::EventLogger::theLogger().logWarning(
                "Cannot read the model's change counter (ostrel-admin upgrade adds it to an older database): " +
                    e.nativeExplanation(),
                Corvel::layerDatabase);
        _bWarned = true;
    } catch (const std::exception& e) {
        // Anything else too: an exception ending the watcher's thread would end the daemon.
        Corvel::EventLogger::theLogger().logWarning(std::string("Cannot read the model's change counter: ") + e.what(),
                                                    Corvel::layerDatabase);
    }
    return -1;
}

void ModelWatcher::waitForNextLook()
{
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(_nIntervalMs);
    if (_plistener) {
        for (;;) {
            {
                Corvel::MutexLock lock(_mx);
                if (_bStop) return;
            }
            const long nLeft = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - std::chrono::steady_clock::now()).count());
            if (nLeft <= 0) return;
            try {
                if (_plistener->awaitNotification(pszChannel, std::min(nLeft, nListenSliceMs))) {
                    // A change often comes as several transactions in a row: let them settle, so
                    // that they cost one reload, not one each.
                    for (int i = 0; i < nSettleRounds && _plistener->awaitNotification(pszChannel, nSettleMs); ++i) {
                    }
                    return;
                }
            } catch (const VeskDal::DalDatabaseException& e) {
                // Listening resumes with the next call; meanwhile the interval still counts.
                Corvel::EventLogger::theLogger().logWarning("Not listening for model changes: " + e.nativeExplanation(),
                                                            Corvel::layerDatabase);
                break;
            }
        }
    }
    Corvel::MutexLock lock(_mx);
    while (!_bStop)
        if (!_cv.waitUntil(_mx, tEnd)) return;
}

void ModelWatcher::run()
{
    try {
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, _strConnect, VeskDal::DalDatabase::csClearMap);
        auto itEngine = parameterS.find("engine");
        if (itEngine != parameterS.end() && itEngine->second == "postgresql") {
            _plistener.reset(VeskDal::DalDynamic::dalDatabase("postgresql"));
            _plistener->open(parameterS);
        }
    } catch (const VeskDal::DalDatabaseException& e) {
        _plistener.reset();
        Corvel::EventLogger::theLogger().logWarning(
            "Model changes are picked up every interval only: cannot listen: " + e.nativeExplanation(),
            Corvel::layerDatabase);
    }
    for (;;) {
        waitForNextLook();
        {
            Corvel::MutexLock lock(_mx);
            if (_bStop) return;
        }
        // Read before reloading: a change made during the reload shows at the next look.
        Corvel::MutexLock look(_mxLook);
        const std::int64_t nNow = counter();
        // A model that a failed reload left as far as it got is reloaded again, moved or not.
        const bool bWhole = _whole();
        if (nNow < 0 || (nNow == _nSeen && bWhole)) continue;
        _nSeen = nNow;
        _reload(bWhole ? "the model changed in the database" : "the last reload failed");
    }
}

} // namespace Ostreld
