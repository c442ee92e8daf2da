#pragma once
// The error a call raises, for tests that check its text or code and not only that it came.
#include <QString>
#include <optional>
#include <stdexcept>

template <typename Error, typename Call> std::optional<Error> Raised(Call&& call) {
    try {
        call();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

// Its text; a null text when the call returned.
template <typename Error = std::runtime_error, typename Call> QString RaisedText(Call&& call) {
    const std::optional<Error> e = Raised<Error>(call);
    return e ? QString::fromUtf8(e->what()) : QString();
}
