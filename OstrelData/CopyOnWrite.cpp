#include "OstrelData/CopyOnWrite.h"

#include "OstrelData/Product.h"
#include "OstrelData/Team.h"
#include "OstrelData/TeamMember.h"

namespace OstrelData {

namespace {

// One empty value per type for the whole process: default-constructed holders
// share it, so a user or team that is never written allocates nothing. Holding
// it here counts as a second holder, so the first write always clones.
template <class T>
const std::shared_ptr<T>& emptyValue()
{
    static const std::shared_ptr<T> s_pEmpty = std::make_shared<T>();
    return s_pEmpty;
}

} // namespace

template <class T>
CopyOnWrite<T>::CopyOnWrite() : _p(emptyValue<T>())
{
}

template <class T>
void CopyOnWrite<T>::detach()
{
    // Cloning copies the elements; a Product's copy re-points its roles and
    // permissions at itself, so the clone's links stay inside the clone.
    _p = std::make_shared<T>(*_p);
}

template <class T>
void CopyOnWrite<T>::reset()
{
    _p = emptyValue<T>();
}

template class CopyOnWrite<ProductMap>;
template class CopyOnWrite<TeamMap>;
template class CopyOnWrite<TeamMemberMap>;

} // namespace OstrelData
