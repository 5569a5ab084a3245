#include "config/site_list.h"
#include "fuzz_temp_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SiteList first;
    if (!first.readSites(writeFuzzFile("sites.inf", data, size)))
        std::abort();
    std::string saved = fuzzFolder() + "/saved.inf";
    if (!first.writeSites(saved))
        std::abort();
    SiteList second;
    if (!second.readSites(saved))
        std::abort();
    if (!hasLoneCarriageReturn(data, size) && second.sites != first.sites)
        std::abort();
    return 0;
}
