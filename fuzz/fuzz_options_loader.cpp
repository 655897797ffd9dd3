// "Sentorix.option" as a hand-made or damaged file may hold it: loaded, and the worker count
// taken from it always lies in 1..5.
#include "fuzz/FuzzSupport.h"

#include "monitor/data/Options.h"

using namespace sentorix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzz::writeScratchFile(kOptionsFile, data, size);
    OptionsStore store;
    loadOptions(store, fuzz::scratchFolder());
    const OptionsRecord options = store.get();
    (void)options;
    const int workers = store.takeWorkerCount();
    fuzz::require(workers >= 1 && workers <= 5, "worker count outside 1..5");
    return 0;
}
