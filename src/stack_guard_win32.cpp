// The stack protector's guard and the checks' failures for the MinGW build,
// in place of libssp's (whose fortified calls are still linked, and end
// here). libssp fills the guard through the CryptoAPI, whose provider loads a
// dozen DLLs at every start: under Wine that was most of a short run's
// processor time. msvcrt's rand_s asks the system's generator (RtlGenRandom),
// which is as strong. This file is built without the protector, since the
// guard changes while its setup runs.
#define _CRT_RAND_S
#include <io.h>
#include <stdint.h>
#include <stdlib.h>

namespace {

// A check found memory overwritten: nothing of the process can be trusted, so
// it says so in the words other systems use and traps, without unwinding.
template <size_t n>
[[noreturn]] void fail(const char (&msg)[n])
{
    _write(2, msg, n - 1);
    __builtin_trap();
}

}  // namespace

extern "C" {

// A terminator canary until the setup runs, and if the generator fails.
uintptr_t __stack_chk_guard = 0x000a0dff;

__attribute__((constructor)) static void stack_guard_setup()
{
    unsigned int r;
    if (rand_s(&r) == 0)
        __stack_chk_guard = r;
}

[[noreturn]] void __stack_chk_fail()
{
    fail("*** stack smashing detected ***: terminated\n");
}

[[noreturn]] void __chk_fail()
{
    fail("*** buffer overflow detected ***: terminated\n");
}
}  // extern "C"
