#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <variant>

namespace corvalin {

// What went wrong with one file operation: which operation, on which path, and the system's reason.
// Core code returns it; the window decides how to tell the user.
struct Error {
    // What could not be done, as a Japanese noun phrase that "ができませんでした。" completes,
    // e.g. "ファイルの移動", "フォルダの読み取り".
    std::string operation;
    std::filesystem::path path;
    int code = 0; // errno, or 0 when the reason is in `detail`
    std::string detail;
    // What the user can do about it, when there is something to say; empty otherwise.
    std::string advice = {};
    // The file the operation was for, when `path` names the folder that refused it (a picture and
    // the full destination it could not be put into); empty otherwise.
    std::filesystem::path file = {};

    bool operator==(const Error&) const = default;

    // The system's description of `code` (localised by the C library), or `detail`.
    std::string reason() const;
};

Error errorFromErrno(std::string operation, std::filesystem::path path, int code);

// Success, or an Error.
class Status {
public:
    Status() = default;
    Status(Error error) : m_error(std::move(error)), m_failed(true) {}
    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return m_error; }
    int code() const { return m_failed ? m_error.code : 0; }

private:
    Error m_error;
    bool m_failed = false;
};

// A value, or an Error.
template <class T> class Result {
public:
    Result(T value) : m_data(std::move(value)) {}
    Result(Error error) : m_data(std::move(error)) {}
    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_data); }
    const T& value() const { return std::get<0>(m_data); }
    const Error& error() const { return std::get<1>(m_data); }
    int code() const { return ok() ? 0 : error().code; }
    Status status() const { return ok() ? Status() : Status(error()); }

private:
    std::variant<T, Error> m_data;
};

} // namespace corvalin
