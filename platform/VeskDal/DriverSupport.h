#ifndef VESKDAL_DRIVERSUPPORT_H
#define VESKDAL_DRIVERSUPPORT_H

// What the driver modules share (not installed).

#include <algorithm>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <string_view>
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
// at the end of the row instead of being searched for. Of two columns reported under one name the
// later one wins. Every row filled shares one list of the names. A filler depends only on the
// column names, so a handle keeps the last one and uses it again while the names stay the same.
class RowFiller {
public:
    explicit RowFiller(std::vector<std::string> nameS)
        : _nameS(std::move(nameS)), _pnameS(std::make_shared<DalRow::ColumnNames>())
    {
        for (size_t n = 0; n < _nameS.size(); ++n) {
            _orderS.push_back(static_cast<int>(n));
        }
        std::stable_sort(_orderS.begin(), _orderS.end(), [this](int a, int b) { return _nameS[a] < _nameS[b]; });
        _storedS.resize(_nameS.size());
        const std::string* pstrLast = nullptr;
        for (int n : _orderS) {
            if (!pstrLast || *pstrLast != _nameS[n]) {
                pstrLast = &_pnameS->add(_nameS[n]);
            }
            _storedS[n] = pstrLast;
        }
        _pnameS->freeze();
    }

    // Whether the result's columns are named as the filler's; nameOf(n) gives the n-th name.
    template <class NameOf>
    bool sameColumns(size_t nColumns, NameOf nameOf) const
    {
        if (nColumns != _nameS.size()) {
            return false;
        }
        for (size_t n = 0; n < nColumns; ++n) {
            if (std::string_view(_nameS[n]) != nameOf(n)) {
                return false;
            }
        }
        return true;
    }

    size_t size() const { return _orderS.size(); }
    // The column to put k-th.
    int column(size_t k) const { return _orderS[k]; }

    void start(DalRow& row)
    {
        _prow = &row;
        row.startFill(_pnameS, _pnameS->size());
    }
    // Puts the value of a column; columns must come in the order column(0), column(1), ...
    void put(int nColumn, SqlValue&& value) { _prow->append(*_storedS[nColumn], std::move(value)); }
    void putInteger(int nColumn, std::int64_t nValue) { _prow->appendInteger(*_storedS[nColumn], nValue); }
    void putText(int nColumn, const char* pachText, size_t nLength)
    {
        _prow->appendText(*_storedS[nColumn], pachText, nLength);
    }

private:
    std::vector<std::string> _nameS;                // by column
    std::vector<int> _orderS;                       // columns in name order
    std::shared_ptr<DalRow::ColumnNames> _pnameS;   // each distinct name once, in name order
    std::vector<const std::string*> _storedS;       // by column: its name in _pnameS
    DalRow* _prow = nullptr;
};

// The filler for a result of nColumns columns named by nameOf(n): the one kept in pfiller while its
// names are the same (a prepared statement's columns do not change), else a new one kept there.
template <class NameOf>
RowFiller& reusedFiller(std::unique_ptr<RowFiller>& pfiller, size_t nColumns, NameOf nameOf)
{
    if (!pfiller || !pfiller->sameColumns(nColumns, nameOf)) {
        std::vector<std::string> nameS;
        for (size_t n = 0; n < nColumns; ++n) {
            nameS.emplace_back(nameOf(n));
        }
        pfiller = std::make_unique<RowFiller>(std::move(nameS));
    }
    return *pfiller;
}

// Replaces the content of a result row by row. The rows it held are filled again where they are,
// so their room is used again; whatever is left of them goes when the writer does, also when the
// query fails half-way (the result then holds the rows read so far).
class ResultWriter {
public:
    explicit ResultWriter(DalDatabase::Result& result) : _result(result) {}
    ~ResultWriter() { _result.erase(_result.begin() + static_cast<std::ptrdiff_t>(_nRows), _result.end()); }
    ResultWriter(const ResultWriter&) = delete;
    ResultWriter& operator=(const ResultWriter&) = delete;

    // Starts the next row; the filler's put() fills it.
    void startRow(RowFiller& filler)
    {
        DalRow& row = _nRows < _result.size() ? _result[_nRows] : _result.emplace_back();
        ++_nRows;
        filler.start(row);
    }
    int rows() const { return static_cast<int>(_nRows); }

private:
    DalDatabase::Result& _result;
    size_t _nRows = 0;
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

// A data error (SQLSTATE class 22): the value does not fit its column. Servers quote the value in
// such messages, so drivers withhold it.
inline bool dataError(const char* pszState)
{
    return pszState && std::strncmp(pszState, "22", 2) == 0;
}

// What a statement's failure is reported as, by its SQLSTATE.
inline int statementFailureCode(const char* pszState)
{
    return dataError(pszState) ? DDBERR_VALUE : DDBERR_STATEMENT;
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
