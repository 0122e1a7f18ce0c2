// The code page a test walks names by. The cases of two-byte characters are
// written for code page 932 (Shift JIS) and select it; others select a
// locale of the C library, as the tool takes its own on POSIX systems.
#pragma once

#include "mbchar.h"

#include <gtest/gtest.h>

#include <clocale>

#ifndef _WIN32
#include <langinfo.h>
#endif

inline void select_code_page_932()
{
    use_code_page(shift_jis_code_page());
}

// Takes LC_CTYPE from the locale NAME and walks names by its characters;
// false when there is no such locale. Windows programs take their code page
// from the system instead, so there it is always false.
inline bool select_locale(const char* name)
{
#ifdef _WIN32
    static_cast<void>(name);
    return false;
#else
    if (!setlocale(LC_CTYPE, name))
        return false;
    use_code_page(locale_code_page(nl_langinfo(CODESET)));
    return true;
#endif
}

#define SELECT_LOCALE(name)                                                                        \
    do {                                                                                           \
        if (!select_locale(name))                                                                  \
            GTEST_SKIP() << "needs the C library's locale " << (name);                             \
    } while (0)
