#include "driver.h"
#include "fileio.h"
#include "mbchar.h"

int main(int argc, char** argv)
{
    plat_startup(&argc, &argv);
    use_code_page(plat_code_page());
    finish(kelto_main(argc, argv));
}
