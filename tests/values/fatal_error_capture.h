// A stand-in for the runtime's fatal error path: it writes the message to a descriptor and exits.
#pragma once

inline constexpr int kFatalErrorExitCode = 255;

// Where FatalRuntimeError writes the message bytes; standard error until a test changes it.
extern int gFatalErrorMessageFd;
