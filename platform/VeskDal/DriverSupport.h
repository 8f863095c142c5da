#ifndef VESKDAL_DRIVERSUPPORT_H
#define VESKDAL_DRIVERSUPPORT_H

// What the driver modules share (not installed).

#include <algorithm>
#include <functional>
#include <list>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlException.h"

namespace VeskDal {

// Prepared statements of one handle, by their SQL text, least recently used dropped first:
// the query classes build a fresh statement per call, but the texts repeat.
template <class Handle>
class StatementCache {
public:
    using Finalizer = std::function<void(Handle)>;

    StatementCache(size_t nCapacity, Finalizer finalize) : _nCapacity(nCapacity), _finalize(std::move(finalize)) {}
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;
    ~StatementCache() { clear(); }

    // The handle prepared for the text, or null; a hit becomes the most recently used.
    Handle* find(const std::string& strSql)
    {
        auto it = _indexS.find(strSql);
        if (it == _indexS.end()) {
            return nullptr;
        }
        _entryS.splice(_entryS.begin(), _entryS, it->second);
        return &it->second->second;
    }

    // Keeps a freshly prepared handle, finalizing the least recently used one when full.
    Handle& insert(const std::string& strSql, Handle handle)
    {
        if (_entryS.size() >= _nCapacity) {
            auto& last = _entryS.back();
            Handle old = last.second;
            _indexS.erase(last.first);
            _entryS.pop_back();
            _finalize(old);
        }
        _entryS.emplace_front(strSql, handle);
        _indexS[_entryS.front().first] = _entryS.begin();
        return _entryS.front().second;
    }

    // Drops the handle of one text (after it failed), finalizing it.
    void erase(const std::string& strSql)
    {
        auto it = _indexS.find(strSql);
        if (it != _indexS.end()) {
            Handle handle = it->second->second;
            _entryS.erase(it->second);
            _indexS.erase(it);
            _finalize(handle);
        }
    }

    // Finalizes every handle.
    void clear()
    {
        for (auto& entry : _entryS) {
            _finalize(entry.second);
        }
        _entryS.clear();
        _indexS.clear();
    }

    // Forgets every handle without finalizing (the connection they belonged to is gone).
    void forget()
    {
        _entryS.clear();
        _indexS.clear();
    }

    size_t size() const { return _entryS.size(); }

private:
    size_t _nCapacity;
    Finalizer _finalize;
    std::list<std::pair<std::string, Handle>> _entryS;
    std::unordered_map<std::string, typename std::list<std::pair<std::string, Handle>>::iterator> _indexS;
};

// Fills result rows column by column in the order of the column names, so that every value lands
// at the end of the row's map instead of being searched for. Of two columns reported under one
// name the later one wins.
class RowFiller {
public:
    explicit RowFiller(std::vector<std::string> nameS) : _nameS(std::move(nameS))
    {
        for (size_t n = 0; n < _nameS.size(); ++n) {
            _orderS.push_back(static_cast<int>(n));
        }
        std::stable_sort(_orderS.begin(), _orderS.end(), [this](int a, int b) { return _nameS[a] < _nameS[b]; });
    }

    size_t size() const { return _orderS.size(); }
    // The column to put k-th.
    int column(size_t k) const { return _orderS[k]; }

    void start(DalDatabase::Row& row)
    {
        _prow = &row;
        _last = row.end();
    }
    // Puts the value of a column; columns must come in the order column(0), column(1), ...
    void put(int nColumn, SqlValue&& value)
    {
        const std::string& strName = _nameS[nColumn];
        if (_last != _prow->end() && _last->first == strName) {
            _last->second = std::move(value);
            return;
        }
        _last = _prow->emplace_hint(_prow->end(), strName, std::move(value));
    }

private:
    std::vector<std::string> _nameS;
    std::vector<int> _orderS;
    DalDatabase::Row* _prow = nullptr;
    DalDatabase::Row::iterator _last;
};

// Refuses parameters a driver does not know, so a misspelt name is not silently ignored.
inline void checkParameterNames(const DalDatabase::ConnectionParameterMap& parameterS,
                                const std::set<std::string>& knownS, const std::string& strEngine)
{
    for (const auto& parameter : parameterS) {
        if (!knownS.count(parameter.first)) {
            std::string strKnown;
            for (const std::string& strName : knownS) {
                strKnown += (strKnown.empty() ? "" : ", ") + strName;
            }
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                       "Unknown connection parameter \"" + parameter.first + "\" for engine " +
                                           strEngine + " (known: " + strKnown + ")");
        }
    }
}

// The server's message followed by the statement it was about.
inline std::string statementFailure(const std::string& strMessage, const std::string& strSql)
{
    std::string strText = strMessage;
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == ' ')) {
        strText.pop_back();
    }
    return strText + " [in: " + strSql + "]";
}

} // namespace VeskDal

#endif
