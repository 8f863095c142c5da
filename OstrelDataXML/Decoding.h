#ifndef OSTRELDATAXML_DECODING_H
#define OSTRELDATAXML_DECODING_H

// Decoding without filing (not installed). The public decoders of Factory keep the client's
// contract: what they decode points into the client's caches, which keep every customer, domain
// and team ever read. A program that decodes input it does not trust (the daemon) must not let
// that input grow anything that outlives the request, so it decodes within a Scope whose Anchors
// it owns: decoded users, domains and teams then point into the Anchors, and the caches are left
// as they were.

#include "OstrelData/Customer.h"
#include "OstrelData/Domain.h"
#include "OstrelData/Team.h"
#include "OstrelDataXML/Export.h"

namespace OstrelDataXML {
namespace decoding {

// Where decoded objects find what they point at.
class OSTRELDATAXML_API Anchors {
public:
    virtual ~Anchors();
    // The customer or domain a decoded object is to point at, for the one just decoded; it must
    // live as long as the decoded objects do.
    virtual const OstrelData::Customer& customer(const OstrelData::Customer& decoded) = 0;
    virtual const OstrelData::Domain& domain(const OstrelData::Domain& decoded) = 0;
    // Told of every team decoded.
    virtual void team(const OstrelData::Team& decoded) = 0;
    // What the entries of decoded domain and team pointer maps stand for: a key not found is left
    // out of the map.
    virtual OstrelData::DomainMap& domains() = 0;
    virtual OstrelData::TeamMap& teams() = 0;
};

// Keeps the customers and domains decoded through it for its own life (which must be longer than
// the decoded objects'), and points pointer maps at the core registries, which the caller must
// keep from changing meanwhile.
class OSTRELDATAXML_API LocalAnchors : public Anchors {
public:
    const OstrelData::Customer& customer(const OstrelData::Customer& decoded) override;
    const OstrelData::Domain& domain(const OstrelData::Domain& decoded) override;
    void team(const OstrelData::Team& decoded) override;
    OstrelData::DomainMap& domains() override;
    OstrelData::TeamMap& teams() override;

private:
    OstrelData::CustomerMap _customerS;
    OstrelData::DomainMap _domainS;
};

// While it lives, the decoders called on this thread anchor through anchors instead of the caches.
class OSTRELDATAXML_API Scope {
public:
    explicit Scope(Anchors& anchors);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    Anchors* _pprevious;
};

} // namespace decoding
} // namespace OstrelDataXML

#endif
