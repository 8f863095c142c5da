// Uses the installed headers and libraries as an outside program would.
#include <iostream>

#include <Corvel/Version.h>
#if __has_include(<OstrelData/Factory.h>)
#include <OstrelData/Factory.h>
#define HAVE_OSTRELDATA 1
#endif

int main()
{
#ifdef HAVE_OSTRELDATA
    std::cout << "Ostrel " << OstrelData::Factory::version().text() << "\n";
    // The package that found the libraries (CMake's or pkg-config's) names the version they report.
    return OstrelData::Factory::version() == Corvel::Version::fromText(OSTREL_EXPECTED_VERSION) ? 0 : 1;
#else
    std::cout << "Corvel " << Corvel::Version::fromText(OSTREL_EXPECTED_VERSION).text() << "\n";
    return 0;
#endif
}
