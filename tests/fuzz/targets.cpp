#include "targets.h"

#include <cstdio>
#include <cstdlib>

namespace telmora::fuzz {

void require(bool holds, const char* rule)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz rule broken: %s\n", rule);
    std::abort();
}

} // namespace telmora::fuzz
