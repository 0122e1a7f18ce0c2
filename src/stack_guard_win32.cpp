// The stack protector's guard and its failure for the MinGW build, in place
// of libssp's. libssp fills the guard through the CryptoAPI, whose provider
// loads a dozen DLLs at every start: under Wine that was most of a short
// run's processor time. msvcrt's rand_s asks the system's generator
// (RtlGenRandom), which is as strong. This file is built without the
// protector, since the guard changes while its setup runs.
#define _CRT_RAND_S
#include <io.h>
#include <stdint.h>
#include <stdlib.h>

extern "C" {

// A terminator canary until the setup runs, and if the generator fails.
uintptr_t __stack_chk_guard = 0x000a0dff;

__attribute__((constructor)) static void stack_guard_setup()
{
    unsigned int r;
    if (rand_s(&r) == 0)
        __stack_chk_guard = r;
}

// A frame's guard was overwritten: nothing of the process can be trusted, so
// it says so in the words other systems use and traps, without unwinding.
[[noreturn]] void __stack_chk_fail()
{
    static const char msg[] = "*** stack smashing detected ***: terminated\n";
    _write(2, msg, sizeof msg - 1);
    __builtin_trap();
}

}
