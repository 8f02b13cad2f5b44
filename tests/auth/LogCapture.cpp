#include "LogCapture.h"

#include <QLoggingCategory>

namespace velmo::test {

namespace {
LogCapture* active = nullptr;
}

LogCapture::LogCapture()
{
    QLoggingCategory::setFilterRules(QStringLiteral("velmo-usage.*=true"));
    active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!active)
        return;
    std::lock_guard lock(active->m_mutex);
    active->m_lines.push_back({ QString::fromUtf8(context.category ? context.category : ""), type, message });
}

std::vector<LogCapture::Line> LogCapture::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool LogCapture::contains(const QString& category, QtMsgType type, const QString& message) const
{
    for (const Line& line : lines()) {
        if (line.category == category && line.type == type && line.message == message)
            return true;
    }
    return false;
}

bool LogCapture::mentions(const QString& text) const
{
    for (const Line& line : lines()) {
        if (line.message.contains(text))
            return true;
    }
    return false;
}

} // namespace velmo::test
