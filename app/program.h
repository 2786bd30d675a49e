// The program's life cycle.
#pragma once

// Process preparation: the runtime, then the window layout (fatal when it cannot be read).
void PrepareProcess();
int ProgramMain();
void OnMainWindowCreated();
void OnProgramExit();
// A window of the program was destroyed: once the message loop runs, that ends it.
void NoteWindowDestroyed();
