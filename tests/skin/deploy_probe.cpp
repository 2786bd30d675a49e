// Deploys the skin engine into the folder this copy of the probe runs from, as the program does at start.
#include "runtime/runtime.h"
#include "skin/skin_deploy.h"

int main()
{
    StartRuntime();
    EnsureSkinEngine();
    return 0;
}
