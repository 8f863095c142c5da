#include "OstrelData/Customer.h"

namespace OstrelData {

const Customer Customer::allCustomers("*", "");

Customer::Customer() = default;

Customer::Customer(const std::string& strCustomer, const std::string& strName)
    : _strCustomer(strCustomer), _strName(strName)
{
}

Customer::Customer(const Customer& other) = default;

Customer& Customer::operator=(const Customer& other)
{
    if (this != &other) {
        _strCustomer = other._strCustomer;
        _strName = other._strName;
        _domainS = other._domainS;
        _teamS = other._teamS;
    }
    return *this;
}

Customer::~Customer() = default;

} // namespace OstrelData
