#include "app/program.h"
#include "runtime/runtime.h"

int main()
{
    PrepareProcess();
    ProgramMain();
    EndAfterMessageLoop();
}
