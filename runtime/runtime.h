// Runtime services: how the program's routines reach the operating system.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "values/values.h"

// Button codes that ShowMessage gives.
inline constexpr int32_t kAnswerOk = 0;
inline constexpr int32_t kAnswerCancel = 1;
inline constexpr int32_t kAnswerAbort = 2;
inline constexpr int32_t kAnswerRetry = 3;
inline constexpr int32_t kAnswerIgnore = 4;
inline constexpr int32_t kAnswerYes = 5;
inline constexpr int32_t kAnswerNo = 6;

// Style: button set in the low four bits (0 to 5), icon in the next four (0x10 to 0x40).
int32_t ShowMessage(TextRef message, int32_t style, std::optional<TextRef> caption = std::nullopt);
void OpenAddress(TextRef address);
[[noreturn]] void EndProgram(int32_t exitCode);
void RegisterExitCallback(void (*callback)());
void ProcessPendingEvents();
Text RunDirectory();
bool FileExists(TextRef path);
bool WriteFileBytes(TextRef path, std::initializer_list<BytesRef> parts);
bool SetFileAttributesTo(TextRef path, int32_t attributes);
[[noreturn]] void FatalRuntimeError(TextRef message, int32_t errorCode);

// Start-up of the runtime: run directory as current directory, the toolkit, nothing bound.
void StartRuntime();
// The end of the message loop: the same clean-up as EndProgram with code 0.
[[noreturn]] void EndAfterMessageLoop();
// Once the program is ending, no event handler runs any more.
bool ProgramIsEnding();
// Every event handler of the program is called through here.
void RunEventHandler(void (*handler)());
