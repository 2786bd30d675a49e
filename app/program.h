// The program's life cycle.
#pragma once

int ProgramMain();
void OnMainWindowCreated();
void OnProgramExit();
// A window of the program was destroyed: once the message loop runs, that ends it.
void NoteWindowDestroyed();
