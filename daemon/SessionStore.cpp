#include "SessionStore.h"

#include <openssl/evp.h>

#include "OstrelData/Exception.h"
#include "OstrelDal/OstrelDal.h"
#include "VeskDal/SqlException.h"

namespace Ostreld {

namespace {

using VeskDal::SqlInteger;
using VeskDal::SqlText;
using Result = VeskDal::DalDatabase::Result;
using Row = VeskDal::DalDatabase::Row;

// The database's failures become 1021 naming what was being done: the one place this store
// converts them.
template <class F>
auto guarded(const char* pszWhat, F work) -> decltype(work())
{
    try {
        return work();
    } catch (const VeskDal::DalDatabaseException& e) {
        OSTREL_RAISE(OstrelData::nNAX_DATABASE, std::string(pszWhat) + ": " + e.nativeExplanation());
    } catch (const VeskDal::SqlException& e) {
        OSTREL_RAISE(OstrelData::nNAX_DATABASE, std::string(pszWhat) + ": " + e.what());
    }
}

std::string textOf(const Row& row, const char* pszColumn)
{
    Row::const_iterator it = row.find(pszColumn);
    return it == row.end() ? std::string() : it->second.string();
}

time_t timeOf(const Row& row, const char* pszColumn)
{
    Row::const_iterator it = row.find(pszColumn);
    if (it == row.end()) return 0;
    try {
        return static_cast<time_t>(it->second.asInt64());
    } catch (const VeskDal::SqlException&) {
        return 0;  // reads as kept long ago: it ends rather than lives for ever
    }
}

KeptSession keptOf(const Row& row)
{
    KeptSession kept;
    kept.strDigest = textOf(row, "SessionDigest");
    kept.key = OstrelData::User::Key(textOf(row, "Domain"), textOf(row, "UserId"));
    kept.strProfile = textOf(row, "Profile");
    kept.tCreated = timeOf(row, "Created");
    kept.tLastUsed = timeOf(row, "LastUsed");
    kept.strStamp = textOf(row, "CredentialStamp");
    return kept;
}

// The session rows that ended: unused since before one time, or kept before another.
class ExpiredSessionQuery : public OstrelDal::KeptSessionQuery {
public:
    ExpiredSessionQuery(time_t tUsedBefore, time_t tCreatedBefore)
        : OstrelDal::KeptSessionQuery(OstrelDal::schema()), _tUsedBefore(tUsedBefore), _tCreatedBefore(tCreatedBefore)
    {
    }
    void addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool) override
    {
        VeskDal::SqlCompoundCondition eitherS(VeskDal::compOr);
        eitherS.addCondition(VeskDal::SqlCondition(columnLastUsed(), SqlInteger(static_cast<std::int64_t>(_tUsedBefore)),
                                                   VeskDal::condLess));
        eitherS.addCondition(VeskDal::SqlCondition(
            columnCreated(), SqlInteger(static_cast<std::int64_t>(_tCreatedBefore)), VeskDal::condLess));
        conditionS.addCondition(eitherS);
    }

private:
    time_t _tUsedBefore;
    time_t _tCreatedBefore;
};

// How many session rows are still in use: used since a time, and kept since another.
class LiveSessionCountQuery : public OstrelDal::KeptSessionQuery {
public:
    LiveSessionCountQuery(time_t tUsedSince, time_t tCreatedSince)
        : OstrelDal::KeptSessionQuery(OstrelDal::schema()), _tUsedSince(tUsedSince), _tCreatedSince(tCreatedSince)
    {
    }
    void addConstraints(VeskDal::SqlCompoundCondition& conditionS, bool) override
    {
        conditionS.addCondition(VeskDal::SqlCondition(
            columnLastUsed(), SqlInteger(static_cast<std::int64_t>(_tUsedSince)), VeskDal::condGreaterEqual));
        conditionS.addCondition(VeskDal::SqlCondition(
            columnCreated(), SqlInteger(static_cast<std::int64_t>(_tCreatedSince)), VeskDal::condGreaterEqual));
    }
    // One row of one column: the count.
    int count(Result& result, VeskDal::DalDatabase& database)
    {
        VeskDal::SqlSelectStatement statement(table());
        VeskDal::SqlFunction function("COUNT", "");
        function.addColumn(columnSessionDigest());
        statement.addColumn(VeskDal::SqlColumnPtr(function));
        return OstrelDal::runSelect(statement, constraints(), result, database);
    }

private:
    time_t _tUsedSince;
    time_t _tCreatedSince;
};

// How long a counted number of kept sessions in the database is taken as it is.
constexpr long nCountSeconds = 5;

[[noreturn]] void noSuchSession()
{
    OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "No such session.");
}

[[noreturn]] void timedOut()
{
    OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Session timed out.");
}

} // namespace

SessionStore::~SessionStore() = default;

std::string SessionStore::digestOf(const std::string& strSession)
{
    unsigned char abDigest[EVP_MAX_MD_SIZE];
    unsigned int nLength = 0;
    if (EVP_Digest(strSession.data(), strSession.size(), abDigest, &nLength, EVP_sha256(), nullptr) != 1)
        OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Cannot digest a session id.");
    static const char acHex[] = "0123456789abcdef";
    std::string strHex;
    strHex.reserve(2 * nLength);
    for (unsigned int i = 0; i < nLength; ++i) {
        strHex += acHex[abDigest[i] >> 4];
        strHex += acHex[abDigest[i] & 15];
    }
    return strHex;
}

// ---- in memory

void MemorySessionStore::keep(const std::string& strSession, const OstrelData::User::Key& key,
                              const std::string& strProfile, const std::string& strStamp)
{
    KeptSession kept;
    kept.strDigest = digestOf(strSession);
    kept.key = key;
    kept.strProfile = strProfile;
    kept.tCreated = kept.tLastUsed = std::time(nullptr);
    kept.strStamp = strStamp;
    Corvel::MutexLock lock(_mx);
    if (!_keptS.emplace(kept.strDigest, kept).second)
        OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Session already exists.");
}

KeptSession MemorySessionStore::use(const std::string& strSession)
{
    const time_t tNow = std::time(nullptr);
    Corvel::MutexLock lock(_mx);
    auto it = _keptS.find(digestOf(strSession));
    if (it == _keptS.end()) noSuchSession();
    if (idleTooLong(it->second, tNow)) {
        _keptS.erase(it);
        timedOut();
    }
    it->second.tLastUsed = tNow;
    return it->second;
}

bool MemorySessionStore::find(const std::string& strSession, KeptSession& kept)
{
    Corvel::MutexLock lock(_mx);
    auto it = _keptS.find(digestOf(strSession));
    if (it == _keptS.end() || idleTooLong(it->second, std::time(nullptr))) return false;
    kept = it->second;
    return true;
}

bool MemorySessionStore::end(const std::string& strDigest)
{
    Corvel::MutexLock lock(_mx);
    return _keptS.erase(strDigest) > 0;
}

std::vector<KeptSession> MemorySessionStore::all()
{
    const time_t tNow = std::time(nullptr);
    std::vector<KeptSession> keptS;
    Corvel::MutexLock lock(_mx);
    for (const auto& entry : _keptS)
        if (!idleTooLong(entry.second, tNow)) keptS.push_back(entry.second);
    return keptS;
}

long MemorySessionStore::count(time_t tCreatedSince)
{
    const time_t tNow = std::time(nullptr);
    long n = 0;
    Corvel::MutexLock lock(_mx);
    for (const auto& entry : _keptS)
        n += !idleTooLong(entry.second, tNow) && entry.second.tCreated >= tCreatedSince;
    return n;
}

void MemorySessionStore::removeExpired(time_t tCreatedBefore)
{
    const time_t tNow = std::time(nullptr);
    Corvel::MutexLock lock(_mx);
    for (auto it = _keptS.begin(); it != _keptS.end();)
        it = idleTooLong(it->second, tNow) || it->second.tCreated < tCreatedBefore ? _keptS.erase(it) : std::next(it);
}

// ---- in the database

bool DatabaseSessionStore::read(const std::string& strDigest, KeptSession& kept)
{
    Result result;
    guarded("Reading a kept session", [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::KeptSessionQuery query(OstrelDal::schema());
        query.constrainSessionDigest(SqlText(strDigest));
        return query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
    });
    if (result.empty()) return false;
    kept = keptOf(result.front());
    return true;
}

void DatabaseSessionStore::keep(const std::string& strSession, const OstrelData::User::Key& key,
                                const std::string& strProfile, const std::string& strStamp)
{
    const std::string strDigest = digestOf(strSession);
    KeptSession existing;
    // Looked for first: keeping a kept session is then no key violation, which a server would log
    // with the key, a session's digest.
    if (read(strDigest, existing)) OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Session already exists.");
    const std::int64_t nNow = static_cast<std::int64_t>(std::time(nullptr));
    try {
        guarded("Keeping a session", [&] {
            OstrelDal::Connection connection = OstrelDal::connection();
            OstrelDal::KeptSessionQuery query(OstrelDal::schema());
            query.columnSessionDigest().setValue(SqlText(strDigest));
            query.columnDomain().setValue(SqlText(key.first));
            query.columnUserId().setValue(SqlText(key.second));
            query.columnProfile().setValue(SqlText(strProfile));
            query.columnCreated().setValue(SqlInteger(nNow));
            query.columnLastUsed().setValue(SqlInteger(nNow));
            query.columnCredentialStamp().setValue(SqlText(strStamp));
            return query.insert(connection.db());
        });
    } catch (const OstrelData::Exception&) {
        // Kept meanwhile by another request or daemon: the key refused the second row.
        if (read(strDigest, existing)) OSTREL_RAISE(OstrelData::nNAX_BADSESSION, "Session already exists.");
        throw;
    }
}

KeptSession DatabaseSessionStore::use(const std::string& strSession)
{
    KeptSession kept;
    if (!read(digestOf(strSession), kept)) noSuchSession();
    const time_t tNow = std::time(nullptr);
    if (idleTooLong(kept, tNow)) {
        end(kept.strDigest);
        timedOut();
    }
    if (tNow - kept.tLastUsed >= touchInterval()) {
        const int nRenewed = guarded("Renewing a kept session", [&] {
            OstrelDal::Connection connection = OstrelDal::connection();
            OstrelDal::KeptSessionQuery query(OstrelDal::schema());
            query.constrainSessionDigest(SqlText(kept.strDigest));
            query.columnLastUsed().setValue(SqlInteger(static_cast<std::int64_t>(tNow)));
            return query.update(connection.db());
        });
        // Another daemon ended it since it was read: it must not serve this request.
        if (nRenewed == 0) noSuchSession();
        kept.tLastUsed = tNow;
    }
    return kept;
}

bool DatabaseSessionStore::find(const std::string& strSession, KeptSession& kept)
{
    return read(digestOf(strSession), kept) && !idleTooLong(kept, std::time(nullptr));
}

bool DatabaseSessionStore::end(const std::string& strDigest)
{
    return guarded("Ending a kept session", [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::KeptSessionQuery query(OstrelDal::schema());
        query.constrainSessionDigest(SqlText(strDigest));
        return query.remove(connection.db()) > 0;
    });
}

std::vector<KeptSession> DatabaseSessionStore::all()
{
    Result result;
    const time_t tNow = std::time(nullptr);
    guarded("Reading the kept sessions", [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        OstrelDal::KeptSessionQuery query(OstrelDal::schema());
        return query.select(result, connection.db(), VeskDal::SqlQueryBase::full);
    });
    std::vector<KeptSession> keptS;
    keptS.reserve(result.size());
    for (const Row& row : result) {
        KeptSession kept = keptOf(row);
        if (!idleTooLong(kept, tNow)) keptS.push_back(std::move(kept));
    }
    return keptS;
}

long DatabaseSessionStore::count(time_t tCreatedSince)
{
    const auto tNow = std::chrono::steady_clock::now();
    // Held over the query, so that callers asking at once cost one query between them.
    Corvel::MutexLock lock(_mxCount);
    if (_tCounted.time_since_epoch().count() != 0 && tNow - _tCounted < std::chrono::seconds(nCountSeconds))
        return _nCounted;
    Result result;
    guarded("Counting the kept sessions", [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        LiveSessionCountQuery query(std::time(nullptr) - _nIdleSeconds, tCreatedSince);
        return query.count(result, connection.db());
    });
    const std::int64_t n = result.empty() || result.front().empty() ? 0 : result.front().begin()->second.asInt64();
    _nCounted = static_cast<long>(n);
    _tCounted = tNow;
    return _nCounted;
}

void DatabaseSessionStore::removeExpired(time_t tCreatedBefore)
{
    const time_t tUsedBefore = std::time(nullptr) - _nIdleSeconds;
    // One statement: daemons doing it at once each delete what is there, and none fails for rows
    // another took first.
    guarded("Removing ended sessions", [&] {
        OstrelDal::Connection connection = OstrelDal::connection();
        ExpiredSessionQuery query(tUsedBefore, tCreatedBefore);
        return query.remove(connection.db());
    });
}

} // namespace Ostreld
