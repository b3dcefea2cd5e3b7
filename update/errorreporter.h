#pragma once

#include <QString>

#include <functional>

// Takes a translated text for the user. The package checks run on the update worker, which
// turns each report into its `error` signal; tests collect the texts instead.
using ErrorReporter = std::function<void(const QString &text)>;
