#pragma once
// The program's entry block: fixed formats, the windows, the message loop.
int ProgramMain(int argc, char** argv);
