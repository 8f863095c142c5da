#ifndef OSTRELDATA_OSROSTREL_H
#define OSTRELDATA_OSROSTREL_H

// The framework administers itself as product 0 of its own catalogue.
namespace OSROstrel {

constexpr int nOSRD_Ostrel = 0;

constexpr int nOSRR_Maintainer = 1;
constexpr int nOSRR_Administrator = 2;

constexpr int nOSRP_Maintain_Plugins = 1;
constexpr int nOSRP_Maintain_Authenticators = 2;
constexpr int nOSRP_Maintain_Products = 3;
constexpr int nOSRP_Administer_Customers = 4;
constexpr int nOSRP_Administer_Domains = 5;
constexpr int nOSRP_Administer_Teams = 6;
constexpr int nOSRP_Administer_Users = 7;

} // namespace OSROstrel

namespace OstrelData {
namespace OSROstrel = ::OSROstrel;
} // namespace OstrelData

#endif
