// The built tool run as a user runs it: standard output byte for byte, the
// exit code, and the bytes of every file afterwards.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using e2e::lines;

TEST(e2e_usage, no_arguments_print_banner_and_usage)
{
    e2e::temp_dir t;
    auto r = t.kelto({});
    EXPECT_EQ(r.exit_code, 2);
    const std::string banner = lines("Tervolin  KELTO Version 1.11 for DOS32\n");
    EXPECT_EQ(r.out.substr(0, banner.size()), banner);
}

}  // namespace
