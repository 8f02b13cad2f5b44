#pragma once

#include <exception>
#include <string>

// A file-system failure; what() is a readable description such as
// "Permission denied" or "cannot write tokens.json: No space left on device".
class FileError : public std::exception {
public:
    explicit FileError(std::string description)
        : m_description(std::move(description))
    {
    }
    // The system's text for errno `code`, after an optional "context: ".
    static FileError fromErrno(int code, const std::string& context = {});

    const char* what() const noexcept override { return m_description.c_str(); }

private:
    std::string m_description;
};
