#pragma once
// Points home, config, data, cache, runtime and registry folders of the test process into one
// temporary folder, so no test touches the real ones.
#include <QString>

void PrepareTestEnvironment(const QString& home);
