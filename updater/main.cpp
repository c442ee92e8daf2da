#include "UpdaterProgram.h"

int main(int argc, char** argv) {
    return UpdaterProgram(argc, argv);
}
