#include "OstrelData/Team.h"

#include "OstrelData/Authenticator.h"
#include "OstrelData/Domain.h"
#include "OstrelData/Exception.h"

namespace OstrelData {

Team::Team() : _nTeam(-1), _pcustomer(nullptr) {}

Team::Team(const Customer& customer, int nTeam, const std::string& strName)
    : _nTeam(nTeam), _pcustomer(&customer), _strName(strName)
{
}

// Members and products are shared with the source until either side writes them.
Team::Team(const Team& other) = default;

Team& Team::operator=(const Team& other)
{
    if (this != &other) {
        _nTeam = other._nTeam;
        _pcustomer = other._pcustomer;
        _strName = other._strName;
        _pmemberS = other._pmemberS;
        _pproductS = other._pproductS;
    }
    return *this;
}

Team::~Team() = default;

const Customer& Team::customer() const
{
    if (_pcustomer == nullptr)
        OSTREL_RAISE(nNAX_NOCUSTOMERSET, "The customer has not been set.");
    return *_pcustomer;
}

void Team::loadMembers()
{
    _pmemberS.reset();
    for (const auto& entry : customer().domains()) {
        if (entry.second != nullptr)
            entry.second->authenticator()->team(*this);
    }
}

} // namespace OstrelData
