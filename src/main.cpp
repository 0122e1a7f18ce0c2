#include "driver.h"
#include "fileio.h"

int main(int argc, char** argv)
{
    plat_startup(&argc, &argv);
    finish(kelto_main(argc, argv));
}
