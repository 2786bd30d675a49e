#include "app/program.h"

#include "app/main_window.h"
#include "net/update_check.h"
#include "platform/platform.h"
#include "runtime/library_functions.h"
#include "runtime/runtime.h"
#include "skin/skin_deploy.h"

namespace {

constexpr int32_t kStartSkin = 43;
// Until the loop runs, a destroyed window does not end the program.
bool messageLoopRunning = false;

}  // namespace

void PrepareProcess()
{
    StartRuntime();
    if (!LoadMainWindowLayout())
        FatalRuntimeError("载入窗口模板数据段出错!", 0);
}

int ProgramMain()
{
    // The update check needs the internet library (and libcurl under it) as soon as the window
    // is built: loading it meanwhile, on the other core, takes that wait off the start.
    PreloadLibrary("wininet.dll");
    RegisterExitCallback(OnProgramExit);
    if (!CreateMainWindow())
        FatalRuntimeError("载入启动窗口失败", 0);
    RunEventHandler(OnMainWindowCreated);
    if (MainWindowExists())
        ShowMainWindow();
    messageLoopRunning = true;
    if (MainWindowExists())
        platform::RunMessageLoop();
    return 0;
}

void OnMainWindowCreated()
{
    FetchUpdateInfo();
    CheckForUpdate();
    ApplySkin(kStartSkin);
}

void OnProgramExit()
{
    UpdateFlag = Text();
    DownloadAddress = Text();
}

void NoteWindowDestroyed()
{
    if (messageLoopRunning)
        platform::QuitMessageLoop();
}
