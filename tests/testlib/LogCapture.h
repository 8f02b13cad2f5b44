#pragma once

#include <QLoggingCategory>
#include <QString>

#include <functional>
#include <mutex>
#include <vector>

namespace velmo::test {

// Collects every log line written while it lives (all of the app's
// categories enabled), then puts the previous handler back.
class LogCapture {
public:
    LogCapture()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("velmo-usage.*=true"));
        active() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        active() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool contains(const QString& category, QtMsgType type, const QString& message) const
    {
        return any([&](const Line& line) { return line.category == category && line.type == type && line.message == message; });
    }
    // Some line's message contains `text`.
    bool mentions(const QString& text) const
    {
        return any([&](const Line& line) { return line.message.contains(text); });
    }

private:
    struct Line {
        QString category;
        QtMsgType type;
        QString message;
    };
    static LogCapture*& active()
    {
        static LogCapture* capture = nullptr;
        return capture;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (LogCapture* capture = active()) {
            std::lock_guard lock(capture->m_mutex);
            capture->m_lines.push_back({ QString::fromUtf8(context.category ? context.category : ""), type, message });
        }
    }
    bool any(const std::function<bool(const Line&)>& matches) const
    {
        std::lock_guard lock(m_mutex);
        for (const Line& line : m_lines) {
            if (matches(line))
                return true;
        }
        return false;
    }

    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace velmo::test
