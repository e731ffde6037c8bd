#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace platform {

// The failure side of a Result: a human-readable text.
struct Error {
    QString text;
};

// A value or an error text, for helpers that can fail without it being exceptional.
template <typename T> class Result {
public:
    Result(T value)
        : m_data(std::move(value))
    { }
    Result(Error error)
        : m_data(std::move(error))
    { }

    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<0>(m_data); }
    T &value() & { return std::get<0>(m_data); }
    T &&value() && { return std::get<0>(std::move(m_data)); }
    const T &operator*() const & { return value(); }
    const T *operator->() const { return &value(); }

    const QString &error() const { return std::get<1>(m_data).text; }

private:
    std::variant<T, Error> m_data;
};

// Result without a value.
template <> class Result<void> {
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error))
    { }

    bool ok() const { return !m_error; }
    explicit operator bool() const { return ok(); }
    QString error() const { return m_error ? m_error->text : QString(); }

private:
    std::optional<Error> m_error;
};

} // namespace platform
