#include "IUpdateMain.h"

#include <stdexcept>

// The workflow steps come with the information file, the transfer and the install; until
// then the button says so instead of doing nothing.
namespace {
[[noreturn]] void notYet() {
    throw std::runtime_error("Dieser Schritt ist in dieser Version noch nicht verfügbar");
}
} // namespace

bool TiupMain::FetchAndParse() {
    notYet();
}

void TiupMain::TransferFiles() {
    notYet();
}

void TiupMain::InstallFiles() {
    notYet();
}
