#pragma once
// The updater's entry block: the placeholder table, the window, the message loop.
int UpdaterProgram(int argc, char** argv);
