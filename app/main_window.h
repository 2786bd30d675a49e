// MainWindow: the program's only window, created from its constant layout.
#pragma once

// Checks the constant layout and binds its events to their handlers; false when it cannot be read.
bool LoadMainWindowLayout();
// Creates the window hidden with every control; the web view starts loading its start page.
bool CreateMainWindow();
bool MainWindowExists();
void ShowMainWindow();

void OnRefreshGameClicked();
void OnClearCacheClicked();
void OnSearchAgainClicked();
