#pragma once

#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <mutex>
#include <optional>
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
        m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            const std::lock_guard lock(active()->m_mutex);
            active()->m_lines.push_back({ type, QString::fromUtf8(context.category), message });
        });
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // How many lines contain `text`; with a type or category, only lines
    // of that type and category.
    int count(const QString& text, std::optional<QtMsgType> type = std::nullopt, const QString& category = {}) const
    {
        const std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count_if(m_lines.begin(), m_lines.end(), [&](const Line& line) {
            return line.message.contains(text) && (!type || line.type == *type)
                && (category.isEmpty() || line.category == category);
        }));
    }
    bool mentions(const QString& text) const { return count(text) > 0; }

private:
    static LogCapture*& active()
    {
        static LogCapture* capture = nullptr;
        return capture;
    }

    struct Line {
        QtMsgType type;
        QString category;
        QString message;
    };
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace velmo::test
