#include "app/program.h"
#include "runtime/runtime.h"

int main()
{
    StartRuntime();
    ProgramMain();
    EndAfterMessageLoop();
}
