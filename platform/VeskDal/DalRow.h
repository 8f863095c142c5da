#ifndef VESKDAL_DALROW_H
#define VESKDAL_DALROW_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "VeskDal/Export.h"
#include "VeskDal/SqlValue.h"

namespace VeskDal {

class RowFiller;

// One result row: column name to value, iterated in name order, with the interface of an ordered
// map (find, count, at, operator[], insert, emplace, erase, iteration).
//
// A result holds many rows with the same few columns, so the entries of a row lie in one sorted
// array and their names are not copied per row: every row of a result refers to one list of names,
// frozen when the result was read and never changed after, so rows may share it across threads.
// An entry is a pair of a name (a reference into a list) and a value. A row that is given a name
// its list lacks (a column added by hand) moves to a list of its own, which no other row shares:
// copies of such a row copy the names.
//
// Unlike a node-based map, inserting or erasing moves the entries: iterators, pointers and
// references into a row are valid until the row is next changed in size. Different rows may be
// used from different threads at once, even when they came from one result.
class VESKDAL_API DalRow {
public:
    using key_type = std::string;
    using mapped_type = SqlValue;
    // The name is a reference to the row's name list: it cannot be changed through an entry.
    using value_type = std::pair<const std::string&, SqlValue>;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = value_type&;
    using const_reference = const value_type&;
    using pointer = value_type*;
    using const_pointer = const value_type*;
    using iterator = value_type*;
    using const_iterator = const value_type*;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    // Names that rows refer to. A deque keeps every name where it was put, so references into
    // the list stay valid while it grows.
    class ColumnNames {
    public:
        // The stored name equal to strName, or null.
        const std::string* find(const std::string& strName) const
        {
            for (const std::string& strStored : _nameS) {
                if (strStored == strName) {
                    return &strStored;
                }
            }
            return nullptr;
        }
        // Not once the list is frozen.
        const std::string& add(const std::string& strName)
        {
            _nameS.push_back(strName);
            return _nameS.back();
        }
        // The n-th name added.
        const std::string& name(size_type n) const { return _nameS[n]; }
        size_type size() const { return _nameS.size(); }
        // From now on the list does not change, and rows may share it.
        void freeze() { _bFrozen = true; }
        bool frozen() const { return _bFrozen; }

    private:
        std::deque<std::string> _nameS;
        bool _bFrozen = false;
    };

    DalRow() noexcept = default;
    DalRow(std::initializer_list<std::pair<const std::string, SqlValue>> entryS);
    // The entries of any range of (name, value) pairs; of two entries under one name the first stays.
    template <class InputIt, class = typename std::iterator_traits<InputIt>::iterator_category>
    DalRow(InputIt first, InputIt last) : DalRow()
    {
        insert(first, last);
    }
    DalRow(const DalRow& other);
    DalRow(DalRow&& other) noexcept;
    DalRow& operator=(const DalRow& other);
    DalRow& operator=(DalRow&& other) noexcept;
    DalRow& operator=(std::initializer_list<std::pair<const std::string, SqlValue>> entryS);
    ~DalRow();

    iterator begin() noexcept { return _pentryS; }
    const_iterator begin() const noexcept { return _pentryS; }
    const_iterator cbegin() const noexcept { return _pentryS; }
    iterator end() noexcept { return _pentryS + _nSize; }
    const_iterator end() const noexcept { return _pentryS + _nSize; }
    const_iterator cend() const noexcept { return _pentryS + _nSize; }
    reverse_iterator rbegin() noexcept { return reverse_iterator(end()); }
    const_reverse_iterator rbegin() const noexcept { return const_reverse_iterator(end()); }
    const_reverse_iterator crbegin() const noexcept { return const_reverse_iterator(end()); }
    reverse_iterator rend() noexcept { return reverse_iterator(begin()); }
    const_reverse_iterator rend() const noexcept { return const_reverse_iterator(begin()); }
    const_reverse_iterator crend() const noexcept { return const_reverse_iterator(begin()); }

    bool empty() const noexcept { return _nSize == 0; }
    size_type size() const noexcept { return _nSize; }
    size_type max_size() const noexcept { return UINT32_MAX; }

    // The first entry whose name is not less than strName.
    iterator lower_bound(const std::string& strName) { return begin() + lowerIndex(strName); }
    const_iterator lower_bound(const std::string& strName) const { return begin() + lowerIndex(strName); }
    // The first entry whose name is greater than strName.
    iterator upper_bound(const std::string& strName) { return upper(strName); }
    const_iterator upper_bound(const std::string& strName) const { return const_cast<DalRow*>(this)->upper(strName); }
    std::pair<iterator, iterator> equal_range(const std::string& strName)
    {
        return {lower_bound(strName), upper_bound(strName)};
    }
    std::pair<const_iterator, const_iterator> equal_range(const std::string& strName) const
    {
        return {lower_bound(strName), upper_bound(strName)};
    }

    // The entry of the name, or end().
    iterator find(const std::string& strName) { return _pentryS + indexOf(strName); }
    const_iterator find(const std::string& strName) const { return const_cast<DalRow*>(this)->find(strName); }
    size_type count(const std::string& strName) const { return find(strName) == end() ? 0 : 1; }

    // The value of the name; throws std::out_of_range when the row lacks it.
    SqlValue& at(const std::string& strName)
    {
        size_type n = indexOf(strName);
        if (n == _nSize) {
            throwMissing(strName);
        }
        return _pentryS[n].second;
    }
    const SqlValue& at(const std::string& strName) const
    {
        size_type n = indexOf(strName);
        if (n == _nSize) {
            throwMissing(strName);
        }
        return _pentryS[n].second;
    }

    // The value of the name, inserted invalid when the row lacks it.
    SqlValue& operator[](const std::string& strName) { return emplace(strName, SqlValue()).first->second; }

    // Inserts the value under the name unless the row holds the name already; returns the entry of
    // the name and whether it was inserted.
    template <class K, class V>
    std::pair<iterator, bool> emplace(K&& key, V&& value)
    {
        if constexpr (std::is_convertible_v<K&&, const std::string&>) {
            return emplaceNamed(key, std::forward<V>(value));
        } else {
            return emplaceNamed(std::string(std::forward<K>(key)), std::forward<V>(value));
        }
    }
    // As emplace(key, value), from a pair.
    template <class P>
    std::pair<iterator, bool> emplace(P&& entry)
    {
        return emplace(std::forward<P>(entry).first, std::forward<P>(entry).second);
    }
    template <class K, class V>
    iterator emplace_hint(const_iterator, K&& key, V&& value)
    {
        return emplace(std::forward<K>(key), std::forward<V>(value)).first;
    }
    // As emplace, but the value is made from args only when the name is new.
    template <class... Args>
    std::pair<iterator, bool> try_emplace(const std::string& strName, Args&&... args)
    {
        size_type n = lowerIndex(strName);
        if (holds(n, strName)) {
            return {_pentryS + n, false};
        }
        return {insertAt(n, strName, SqlValue(std::forward<Args>(args)...)), true};
    }
    // Inserts the value, or assigns it when the row holds the name already.
    template <class V>
    std::pair<iterator, bool> insert_or_assign(const std::string& strName, V&& value)
    {
        size_type n = lowerIndex(strName);
        if (holds(n, strName)) {
            _pentryS[n].second = std::forward<V>(value);
            return {_pentryS + n, false};
        }
        return {insertAt(n, strName, SqlValue(std::forward<V>(value))), true};
    }

    std::pair<iterator, bool> insert(const std::pair<const std::string, SqlValue>& entry)
    {
        return emplace(entry.first, entry.second);
    }
    std::pair<iterator, bool> insert(std::pair<const std::string, SqlValue>&& entry)
    {
        return emplace(entry.first, std::move(entry.second));
    }
    // Any pair of a name and a value (another row's entry among them).
    template <class P, class = decltype(std::declval<P>().first), class = decltype(std::declval<P>().second)>
    std::pair<iterator, bool> insert(P&& entry)
    {
        return emplace(std::forward<P>(entry).first, std::forward<P>(entry).second);
    }
    iterator insert(const_iterator, const std::pair<const std::string, SqlValue>& entry)
    {
        return insert(entry).first;
    }
    template <class InputIt, class = typename std::iterator_traits<InputIt>::iterator_category>
    void insert(InputIt first, InputIt last)
    {
        for (; first != last; ++first) {
            emplace(first->first, first->second);
        }
    }
    void insert(std::initializer_list<std::pair<const std::string, SqlValue>> entryS)
    {
        insert(entryS.begin(), entryS.end());
    }

    // Removes the entry of the name; returns how many were removed (0 or 1).
    size_type erase(const std::string& strName);
    // Removes entries; returns the entry after the last one removed.
    iterator erase(const_iterator position) { return erase(position, position + 1); }
    iterator erase(const_iterator first, const_iterator last);
    void clear() noexcept;
    void swap(DalRow& other) noexcept;

    // Same names with equal values (see SqlValue::operator==), in the same order.
    bool operator==(const DalRow& other) const;
    bool operator!=(const DalRow& other) const { return !(*this == other); }

private:
    friend class RowFiller;

    // Column names are short and mostly differ early: comparing them in place is cheaper than a
    // library call per comparison. Bytes compare unsigned, as std::string does.
    static int compareNames(const std::string& strA, const std::string& strB) noexcept
    {
        const size_type nA = strA.size();
        const size_type nB = strB.size();
        const unsigned char* pa = reinterpret_cast<const unsigned char*>(strA.data());
        const unsigned char* pb = reinterpret_cast<const unsigned char*>(strB.data());
        for (size_type k = 0, n = nA < nB ? nA : nB; k < n; ++k) {
            if (pa[k] != pb[k]) {
                return pa[k] < pb[k] ? -1 : 1;
            }
        }
        return nA < nB ? -1 : (nA > nB ? 1 : 0);
    }
    size_type lowerIndex(const std::string& strName) const
    {
        size_type nLow = 0;
        size_type nHigh = _nSize;
        while (nLow < nHigh) {
            size_type nMiddle = (nLow + nHigh) / 2;
            if (compareNames(_pentryS[nMiddle].first, strName) < 0) {
                nLow = nMiddle + 1;
            } else {
                nHigh = nMiddle;
            }
        }
        return nLow;
    }
    // The position of the name, or _nSize. Most rows have a handful of columns, where looking at
    // every name of the same length is quicker than halving.
    size_type indexOf(const std::string& strName) const
    {
        if (_nSize > 8) {
            return searchIndex(strName);
        }
        const size_type nLength = strName.size();
        const char* pszName = strName.data();
        for (size_type k = 0; k < _nSize; ++k) {
            const std::string& strStored = _pentryS[k].first;
            if (strStored.size() == nLength &&
                (nLength == 0 || (strStored[0] == pszName[0] && std::memcmp(strStored.data(), pszName, nLength) == 0))) {
                return k;
            }
        }
        return _nSize;
    }
    // Whether the entry at n (a lowerIndex) holds the name.
    bool holds(size_type n, const std::string& strName) const
    {
        return n < _nSize && compareNames(_pentryS[n].first, strName) == 0;
    }
    iterator upper(const std::string& strName)
    {
        size_type n = lowerIndex(strName);
        return _pentryS + (holds(n, strName) ? n + 1 : n);
    }
    template <class V>
    std::pair<iterator, bool> emplaceNamed(const std::string& strName, V&& value)
    {
        size_type n = lowerIndex(strName);
        if (holds(n, strName)) {
            return {_pentryS + n, false};
        }
        return {insertAt(n, strName, SqlValue(std::forward<V>(value))), true};
    }
    // indexOf for rows of many columns.
    size_type searchIndex(const std::string& strName) const;
    [[noreturn]] static void throwMissing(const std::string& strName);

    // Puts a new entry at position n (the sorted place of strName).
    iterator insertAt(size_type n, const std::string& strName, SqlValue&& value);
    // The name as stored in the row's list, added when missing.
    const std::string& storedName(const std::string& strName);
    // Room for nCapacity entries at least, keeping the entries.
    void reserve(size_type nCapacity);
    void destroyEntries() noexcept;

    // Empties the row for the filler: the names become the frozen pnameS, room stays (or is made)
    // for nColumns.
    void startFill(const std::shared_ptr<ColumnNames>& pnameS, size_type nColumns);
    // Appends an entry; the filler keeps the names in order and within the room it asked for, and
    // passes them as stored in the row's list.
    void append(const std::string& strStoredName, SqlValue&& value)
    {
        slot(strStoredName) = std::move(value);
    }
    // As append, building the value where it goes.
    void appendInteger(const std::string& strStoredName, std::int64_t nValue)
    {
        SqlValue& value = slot(strStoredName);
        value._type = SqlValue::typeInteger;
        value._nValue = nValue;
        value._strValue.clear();
        value._palias.reset();
    }
    void appendText(const std::string& strStoredName, const char* pachText, size_type nLength)
    {
        SqlValue& value = slot(strStoredName);
        value._type = SqlValue::typeText;
        value._nValue = 0;
        value._strValue.assign(pachText, nLength);
        value._palias.reset();
    }
    // The value under the name at the end: the last entry's when it has the name already (of two
    // columns under one name the later wins), else a new entry's.
    SqlValue& slot(const std::string& strStoredName)
    {
        if (_nSize != 0 && &_pentryS[_nSize - 1].first == &strStoredName) {
            return _pentryS[_nSize - 1].second;
        }
        new (_pentryS + _nSize) value_type(strStoredName, SqlValue());
        return _pentryS[_nSize++].second;
    }

    value_type* _pentryS = nullptr;  // owned: _nCapacity entries of room, the first _nSize built
    std::uint32_t _nSize = 0;
    std::uint32_t _nCapacity = 0;
    // Every entry's name lies here. Frozen: shared with other rows; else the row's own.
    std::shared_ptr<ColumnNames> _pnameS;
};

inline void swap(DalRow& a, DalRow& b) noexcept
{
    a.swap(b);
}

} // namespace VeskDal

#endif
