// Arbitrary bytes as a daemon's reply: parsed, then given to every decoder at
// the root and at each child of the root. A decoder may refuse (an
// OstrelData::Exception); anything else escaping, or a crash, is a finding.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzTarget.h"
#include "OstrelData/Exception.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "Vesk/XMLDoc.h"

using OstrelDataXML::Factory;

namespace {

template <class Fn>
void refusalIsFine(Fn fn)
{
    try {
        fn();
    } catch (const OstrelData::Exception&) {
    }
}

void decodeEverything(const Vesk::XMLNode* pnode)
{
    refusalIsFine([&] { Factory::Exception::fromXML(pnode); });
    refusalIsFine([&] { Factory::AuthenticatedUser::fromXML(pnode); });
    refusalIsFine([&] { Factory::AuthenticatedUserMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::User::fromXML(pnode); });
    refusalIsFine([&] { Factory::UserMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::Session::fromXML(pnode); });
    refusalIsFine([&] { Factory::SessionString::fromXML(pnode); });
    refusalIsFine([&] { Factory::Profile::fromXML(pnode); });
    refusalIsFine([&] { Factory::ProfileMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::Domain::fromXML(pnode); });
    refusalIsFine([&] { Factory::DomainMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::DomainPtrMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::Customer::fromXML(pnode); });
    refusalIsFine([&] { Factory::CustomerMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::Team::fromXML(pnode); });
    refusalIsFine([&] { Factory::TeamMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::TeamPtrMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::TeamMember::fromXML(pnode); });
    refusalIsFine([&] { Factory::TeamMemberMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::Permission::fromXML(pnode); });
    refusalIsFine([&] { Factory::PermissionMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::Product::fromXML(pnode); });
    refusalIsFine([&] { Factory::ProductMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::ProductInitMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::Role::fromXML(pnode); });
    refusalIsFine([&] { Factory::RoleMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::InitMap::fromXML(pnode); });
    refusalIsFine([&] { Factory::InitMapMap::fromXML(pnode); });
    refusalIsFine([&] {
        rsa_key key{};
        Factory::RsaKey::fromXML(pnode, key);
        rsa_free(&key);
    });
}

} // namespace

OSTREL_FUZZ_TARGET(fuzzXml)
{
    Vesk::XMLDoc doc;
    try {
        doc = Vesk::XMLDoc::parse(Vesk::String(std::string(reinterpret_cast<const char*>(pbyData), nSize)));
    } catch (const Vesk::XMLException&) {
        return 0;
    }
    const Vesk::XMLNode* proot = doc.rootNode();
    if (proot == nullptr) return 0;
    decodeEverything(proot);
    for (const Vesk::XMLNode* pchild = proot->nextChild(); pchild != nullptr; pchild = proot->nextChild(pchild))
        decodeEverything(pchild);
    return 0;
}
