#pragma once

#include <QString>

#include <exception>
#include <string>

// A failed update check, download or installation; what() is the text the
// update window shows and the log records.
class UpdateError : public std::exception {
public:
    explicit UpdateError(const QString& message)
        : m_message(message.toStdString())
    {
    }
    const char* what() const noexcept override { return m_message.c_str(); }
    QString message() const { return QString::fromStdString(m_message); }

    // The one answer to every signature, length or key mismatch.
    static UpdateError improperlySigned()
    {
        return UpdateError(QStringLiteral("The update is improperly signed and could not be validated."));
    }

private:
    std::string m_message;
};
