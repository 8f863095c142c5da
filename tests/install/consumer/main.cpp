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
    return OstrelData::Factory::version() == Corvel::Version(5, 0, 4, 0) ? 0 : 1;
#else
    std::cout << "Corvel " << Corvel::Version(5, 0, 4, 0).text() << "\n";
    return 0;
#endif
}
