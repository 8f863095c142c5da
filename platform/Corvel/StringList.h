#ifndef CORVEL_STRINGLIST_H
#define CORVEL_STRINGLIST_H

#include <string>
#include <vector>

#include "Corvel/Export.h"

namespace Corvel {

class CORVEL_API StringList : public std::vector<std::string> {
public:
    using std::vector<std::string>::vector;
};

// Splits strText at every occurrence of strSeparator. Empty pieces are kept, so
// "a//b" gives "a", "", "b" and an empty text gives one empty piece. An empty
// separator gives the whole text as the only piece.
CORVEL_API StringList tokenize(const std::string& strText, const std::string& strSeparator);

} // namespace Corvel

#endif
