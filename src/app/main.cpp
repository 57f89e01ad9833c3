// Quorvane: a vertical space shooter. Command-line arguments are not read.
#include "SDL.h"  // where the library needs it, it renames main to its own entry
#include "app/shell.h"
#include "platform/device.h"

int main(int, char*[])
{
    start_up();
    run_loop();
    shut_down();
    return 0;
}
