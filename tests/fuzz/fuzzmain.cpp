// One libFuzzer program per target; TELMORA_FUZZ_ENTRY names its entry function.
#include "targets.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Readers that await worker threads need an application object; libFuzzer's own
    // arguments stay untouched.
    static int count = 1;
    static char* arguments[] = {(*argv)[0], nullptr};
    (void)argc;
    new QCoreApplication(count, arguments);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return telmora::fuzz::TELMORA_FUZZ_ENTRY(data, size); }
