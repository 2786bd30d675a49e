// The constant layout of MainWindow: one row per control, in the order of creation.
#pragma once

#include <span>
#include <string>
#include <vector>

enum class ControlKind { WebView, TabControl, PushButton, EditBox };

struct ControlRow {
    const char* name;       // the stored name
    ControlKind kind;
    const char* container;  // a tab control listed earlier, or nullptr for the window's client area
    int page;               // page of the container, from 0
    int x;                  // position relative to the container's top-left corner
    int y;
    int width;
    int height;
    const char* caption;       // push button: its caption; tab control: its page titles, one a line
    const char* clickHandler;  // name of the routine that a click runs, or nullptr
};

using EventHandler = void (*)();

struct NamedRoutine {
    const char* name;
    EventHandler routine;
};

std::span<const ControlRow> MainWindowLayout();

// Checks the rows (unique names, each container listed before what it holds, pages in range,
// one web view, handlers known) and gives each row its bound handler, nullptr for none.
// False, with `handlers` emptied, when the rows cannot be used.
bool BindLayout(std::span<const ControlRow> rows, std::span<const NamedRoutine> routines,
                std::vector<EventHandler>& handlers);

// The page titles of a tab control's row.
std::vector<std::string> PageTitles(const ControlRow& row);
