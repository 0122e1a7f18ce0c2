// The splitting of a command line that the system hands over as one line.
#include "cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(split_command_line, blanks_quotes_and_backslashes)
{
    using words = std::vector<std::string>;
    const struct {
        const char* line;
        words args;
    } cases[] = {
        {"", {}},
        {" \t ", {}},
        {"kelto /du a.txt", {"kelto", "/du", "a.txt"}},
        {"kelto \t /v  ", {"kelto", "/v"}},
        {"kelto \"a b.txt\" c\"d e\"f", {"kelto", "a b.txt", "cd ef"}},
        {"kelto \"C:\\dir\\\" x", {"kelto", "C:\\dir\\", "x"}},
        {"kelto \"\" \"open", {"kelto", "", "open"}},
        {"kelto a\\\"b", {"kelto", "a\\b"}},
    };
    for (const auto& c : cases) {
        int argc = -1;
        char** argv = nullptr;
        split_command_line(c.line, &argc, &argv);
        ASSERT_EQ(argc, static_cast<int>(c.args.size())) << c.line;
        EXPECT_EQ(argv[argc], nullptr) << c.line;
        for (int i = 0; i < argc; ++i)
            EXPECT_EQ(argv[i], c.args[i]) << c.line << " argument " << i;
    }
}
