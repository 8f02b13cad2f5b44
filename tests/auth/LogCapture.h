#pragma once

#include <QString>
#include <QtGlobal>

#include <mutex>
#include <vector>

namespace velmo::test {

// Collects every log line written while it lives (all categories, all
// levels enabled), then puts the previous handler back.
class LogCapture {
public:
    struct Line {
        QString category;
        QtMsgType type;
        QString message;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const;
    bool contains(const QString& category, QtMsgType type, const QString& message) const;
    // Some line's message contains `text`.
    bool mentions(const QString& text) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace velmo::test
