// The one way failures travel through Audimera's core, file readers and
// device layer: a value, or an error with the text the user is shown.
//
// `Error::message` is the reason as the caller's message box or the command
// line prints it (the documented file messages put it after "' : ").
// `fatal` marks a failure after which the program cannot go on (no sound
// system at start-up); everything else leaves the program running. Whether a
// failure is fatal is decided where it happens, never read back from the text.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace audimera {

struct Error {
    std::string message;
    bool fatal = false;

    static Error fatalError(std::string text) { return Error{std::move(text), true}; }
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

private:
    std::optional<Error> m_error;
};

using Status = Result<void>;

} // namespace audimera
