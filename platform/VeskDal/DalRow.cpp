#include "VeskDal/DalRow.h"

#include <new>

namespace VeskDal {

namespace {

// Names a row may hold beyond those of its entries before its own list is rebuilt with only the
// names in use, so a row used as a scratch map does not grow without end.
constexpr std::size_t g_nSpareNames = 16;

using Entry = DalRow::value_type;

// Puts the entry under another (equal) name string; moving a value cannot throw.
void rebind(Entry& entry, const std::string& strName) noexcept
{
    SqlValue value(std::move(entry.second));
    entry.~Entry();
    new (&entry) Entry(strName, std::move(value));
}

} // namespace

// The constructors delegate to the default one, so that the destructor frees what was built when
// they throw half-way.
DalRow::DalRow(std::initializer_list<std::pair<const std::string, SqlValue>> entryS) : DalRow()
{
    reserve(entryS.size());
    insert(entryS);
}

DalRow::DalRow(const DalRow& other) : DalRow()
{
    if (other._nSize == 0) {
        return;
    }
    reserve(other._nSize);
    if (other._pnameS->frozen()) {
        // The entries' names stay where they are.
        _pnameS = other._pnameS;
        for (const value_type& entry : other) {
            new (_pentryS + _nSize) value_type(entry);
            ++_nSize;
        }
    } else {
        // The other row's own list is not shared: the copy takes one of its own.
        _pnameS = std::make_shared<ColumnNames>();
        for (const value_type& entry : other) {
            new (_pentryS + _nSize) value_type(_pnameS->add(entry.first), entry.second);
            ++_nSize;
        }
    }
}

DalRow::DalRow(DalRow&& other) noexcept
    : _pentryS(other._pentryS), _nSize(other._nSize), _nCapacity(other._nCapacity),
      _pnameS(std::move(other._pnameS))
{
    other._pentryS = nullptr;
    other._nSize = 0;
    other._nCapacity = 0;
}

DalRow& DalRow::operator=(const DalRow& other)
{
    if (this != &other) {
        DalRow copy(other);
        swap(copy);
    }
    return *this;
}

DalRow& DalRow::operator=(DalRow&& other) noexcept
{
    if (this != &other) {
        DalRow moved(std::move(other));
        swap(moved);
    }
    return *this;
}

DalRow& DalRow::operator=(std::initializer_list<std::pair<const std::string, SqlValue>> entryS)
{
    DalRow row(entryS);
    swap(row);
    return *this;
}

DalRow::~DalRow()
{
    destroyEntries();
    ::operator delete(_pentryS);
}

DalRow::size_type DalRow::searchIndex(const std::string& strName) const
{
    size_type n = lowerIndex(strName);
    return holds(n, strName) ? n : _nSize;
}

void DalRow::throwMissing(const std::string& strName)
{
    throw std::out_of_range("the row holds no column \"" + strName.substr(0, 64) + "\"");
}

DalRow::iterator DalRow::insertAt(size_type n, const std::string& strName, SqlValue&& value)
{
    const std::string& strStored = storedName(strName);
    if (_nSize == _nCapacity) {
        reserve(_nCapacity == 0 ? 4 : 2 * static_cast<size_type>(_nCapacity));
    }
    // Nothing below throws: the entries move up by one from position n.
    if (n < _nSize) {
        new (_pentryS + _nSize) value_type(std::move(_pentryS[_nSize - 1]));
        for (size_type k = _nSize - 1; k > n; --k) {
            _pentryS[k].~value_type();
            new (_pentryS + k) value_type(std::move(_pentryS[k - 1]));
        }
        _pentryS[n].~value_type();
    }
    new (_pentryS + n) value_type(strStored, std::move(value));
    ++_nSize;
    return _pentryS + n;
}

const std::string& DalRow::storedName(const std::string& strName)
{
    if (_pnameS) {
        if (const std::string* pstrStored = _pnameS->find(strName)) {
            return *pstrStored;
        }
    }
    // A frozen list may be read by other rows at this moment: the row takes a list of its own
    // instead of adding to it. One of its own is rebuilt when it holds many names no longer used.
    if (!_pnameS || _pnameS->frozen() || _pnameS->size() > 2 * static_cast<size_type>(_nSize) + g_nSpareNames) {
        auto pfresh = std::make_shared<ColumnNames>();
        for (const value_type& entry : *this) {
            pfresh->add(entry.first);
        }
        const std::string& strStored = pfresh->add(strName);
        // The entries still refer to the old list, which stays alive until they have moved over.
        std::shared_ptr<ColumnNames> pold = std::move(_pnameS);
        _pnameS = std::move(pfresh);
        for (size_type k = 0; k < _nSize; ++k) {
            rebind(_pentryS[k], _pnameS->name(k));
        }
        return strStored;
    }
    return _pnameS->add(strName);
}

void DalRow::reserve(size_type nCapacity)
{
    if (nCapacity <= _nCapacity) {
        return;
    }
    if (nCapacity > max_size()) {
        throw std::length_error("a row cannot hold that many columns");
    }
    auto pentryS = static_cast<value_type*>(::operator new(nCapacity * sizeof(value_type)));
    for (size_type k = 0; k < _nSize; ++k) {
        new (pentryS + k) value_type(std::move(_pentryS[k]));
        _pentryS[k].~value_type();
    }
    ::operator delete(_pentryS);
    _pentryS = pentryS;
    _nCapacity = static_cast<std::uint32_t>(nCapacity);
}

void DalRow::destroyEntries() noexcept
{
    for (size_type k = 0; k < _nSize; ++k) {
        _pentryS[k].~value_type();
    }
    _nSize = 0;
}

DalRow::size_type DalRow::erase(const std::string& strName)
{
    const_iterator it = find(strName);
    if (it == end()) {
        return 0;
    }
    erase(it);
    return 1;
}

DalRow::iterator DalRow::erase(const_iterator first, const_iterator last)
{
    const size_type nFirst = static_cast<size_type>(first - _pentryS);
    const size_type nGone = static_cast<size_type>(last - first);
    if (nGone == 0) {
        return _pentryS + nFirst;
    }
    // Later entries move down over the gap; what is left at the end goes.
    for (size_type k = nFirst; k + nGone < _nSize; ++k) {
        _pentryS[k].~value_type();
        new (_pentryS + k) value_type(std::move(_pentryS[k + nGone]));
    }
    for (size_type k = _nSize - nGone; k < _nSize; ++k) {
        _pentryS[k].~value_type();
    }
    _nSize -= static_cast<std::uint32_t>(nGone);
    return _pentryS + nFirst;
}

void DalRow::clear() noexcept
{
    destroyEntries();
}

void DalRow::swap(DalRow& other) noexcept
{
    std::swap(_pentryS, other._pentryS);
    std::swap(_nSize, other._nSize);
    std::swap(_nCapacity, other._nCapacity);
    _pnameS.swap(other._pnameS);
}

bool DalRow::operator==(const DalRow& other) const
{
    if (_nSize != other._nSize) {
        return false;
    }
    for (size_type k = 0; k < _nSize; ++k) {
        if (_pentryS[k].first != other._pentryS[k].first || _pentryS[k].second != other._pentryS[k].second) {
            return false;
        }
    }
    return true;
}

void DalRow::startFill(const std::shared_ptr<ColumnNames>& pnameS, size_type nColumns)
{
    destroyEntries();
    if (_pnameS != pnameS) {
        _pnameS = pnameS;
    }
    reserve(nColumns);
}

} // namespace VeskDal
