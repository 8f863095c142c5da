#ifndef VESKDAL_BUILDSUPPORT_H
#define VESKDAL_BUILDSUPPORT_H

// What the statement classes share (not installed).

#include <cstddef>
#include <vector>

namespace VeskDal {

// Statements are built anew for every call and hold a few columns, conditions and values each:
// room for a few from the start saves growing the vectors one step at a time.
template <class T>
void makeRoom(std::vector<T>& itemS, std::size_t nFirst)
{
    if (itemS.capacity() == 0) {
        itemS.reserve(nFirst);
    }
}

} // namespace VeskDal

#endif
