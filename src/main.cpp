#include "cmdline.h"
#include "driver.h"
#include "mbchar.h"
#include "tempfile.h"

#include <new>

int main(int argc, char** argv)
{
    // No code of the tool handles a failed allocation: it ends the run
    // with an error line, as every other failure does.
    std::set_new_handler(out_of_memory);
    if (!plat_startup())
        finish(2);
    if (const char* line = plat_command_line())
        split_command_line(line, &argc, &argv);
    use_code_page(plat_code_page());
    plat_on_interrupt(temp_on_interrupt);
    finish(kelto_main(argc, argv));
}
