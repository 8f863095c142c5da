#ifndef AUTHLDAP_LDAPESCAPE_H
#define AUTHLDAP_LDAPESCAPE_H

// Pure text helpers of the LDAP plug-in: every value the plug-in puts into a search filter or a
// distinguished name passes through one of these. No libldap, no state.

#include <string>

namespace AuthLdap {

// A value as an RFC 4515 assertion value: '*', '(', ')', '\' and NUL become \2a, \28, \29, \5c and
// \00; every other byte stays as it is. "(uid=" + escapeFilterValue(id) + ")" then matches the
// entries whose uid equals id, never a pattern.
std::string escapeFilterValue(const std::string& strValue);

// A value as an RFC 4514 attribute value in a DN: '"', '+', ',', ';', '<', '>', '=', '\' are
// preceded by '\'; a leading ' ' or '#' and a trailing ' ' too; NUL becomes \00. The value then
// stays one attribute value of one RDN, whatever it holds.
std::string escapeDnValue(const std::string& strValue);

// The template with every "%s" replaced by strValue (already escaped for where it goes) and every
// "%%" by "%". Other text, a lone '%' included, is kept.
std::string fillTemplate(const std::string& strTemplate, const std::string& strValue);

// The DN without its first RDN ("uid=%s,ou=people,dc=x" gives "ou=people,dc=x"), skipping escaped
// commas; empty when the DN has a single RDN.
std::string parentDn(const std::string& strDn);

} // namespace AuthLdap

#endif
