#pragma once

#include <stdexcept>
#include <string>

namespace tarnby {

// The error a caller must act on. Every case has one fixed user-facing sentence;
// `command` carries a ready-to-show text of its own.
class StorageError : public std::exception {
public:
    enum class Code {
        command,
        unsafePath,
        changed,
        incomplete,
        cancelled,
        simulatorUnavailable,
        simulatorRunning,
    };

    static StorageError command(std::string text) { return StorageError(Code::command, std::move(text)); }
    static StorageError unsafePath() { return StorageError(Code::unsafePath); }
    static StorageError changed() { return StorageError(Code::changed); }
    static StorageError incomplete() { return StorageError(Code::incomplete); }
    static StorageError cancelled() { return StorageError(Code::cancelled); }
    static StorageError simulatorUnavailable() { return StorageError(Code::simulatorUnavailable); }
    static StorageError simulatorRunning() { return StorageError(Code::simulatorRunning); }

    Code code() const { return m_code; }
    const std::string& errorDescription() const { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

private:
    explicit StorageError(Code code, std::string payload = {});

    Code m_code;
    std::string m_description;
};

// A program could not be started at all. The text names the program and the reason.
class LaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Input from outside (tool output, a document) did not have the expected shape.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tarnby
