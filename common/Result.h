// The one way failures travel through Audimera's core, file readers and
// device layer: a value, or an error with the text the user is shown.
//
// `Error::message` is the reason as the caller's message box or the command
// line prints it (the documented file messages put it after "' : ").
// `kind` says what sort of failure it is, for a caller that acts on it (the
// command line's exit code, a message's icon); the text stays the user's.
// `fatal` marks a failure after which the program cannot go on (no sound
// system at start-up); everything else leaves the program running. Whether a
// failure is fatal is decided where it happens, never read back from the text.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace audimera {

// The sorts of failure. Where a failure happens decides its kind.
enum class Failure {
    Other,       // none of those below
    BadInput,    // settings, options or text the user gave
    File,        // a file could not be read or written
    Install,     // the program is not installed whole (Audidsp)
    Busy,        // another measurement runs
    Device,      // the sound device failed
    LostSamples, // the device lost samples while recording
    Cancelled,   // the user stopped it
    LowSignal,   // too little came back (the low-signal question, no sweep, no reference, too late)
    Clipped,     // the recording reached full scale
};

struct Error {
    std::string message;
    bool fatal = false;
    Failure kind = Failure::Other;

    static Error fatalError(std::string text) { return Error{std::move(text), true}; }
    static Error of(Failure kind, std::string text) { return Error{std::move(text), false, kind}; }
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Error error) : m_state(std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<0>(m_state); }
    const T& value() const { return std::get<0>(m_state); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }

    const Error& error() const { return std::get<1>(m_state); }
    // The error's text, "" when there is a value.
    std::string message() const { return ok() ? std::string() : error().message; }
    bool isFatal() const { return !ok() && error().fatal; }
    // The error's kind; Other when there is a value.
    Failure kind() const { return ok() ? Failure::Other : error().kind; }
    // Holds value (never true for an error).
    friend bool operator==(const Result& result, const T& value) { return result.ok() && result.value() == value; }

private:
    std::variant<T, Error> m_state;
};

// A result with nothing to return but success.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *m_error; }
    std::string message() const { return ok() ? std::string() : m_error->message; }
    bool isFatal() const { return m_error && m_error->fatal; }
    Failure kind() const { return m_error ? m_error->kind : Failure::Other; }

private:
    std::optional<Error> m_error;
};

using Status = Result<void>;

} // namespace audimera
