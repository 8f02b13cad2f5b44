#include "WaybarRunner.h"

#include "HeadlessItem.h"
#include "StatusItemModel.h"
#include "UsageStore.h"

WaybarRunner::WaybarRunner(UsageStore& store, Writer writer, QObject* parent)
    : QObject(parent)
    , m_store(&store)
    , m_writer(std::move(writer))
{
    m_ticker.setInterval(StatusItemModel::rerenderInterval);
    connect(&m_ticker, &QTimer::timeout, this, &WaybarRunner::tick);
}

WaybarRunner::~WaybarRunner() = default;

void WaybarRunner::start()
{
    for (auto changed : { &UsageStore::snapshotChanged, &UsageStore::credentialChanged, &UsageStore::lastErrorChanged,
             &UsageStore::credentialRejectedChanged, &UsageStore::isRefreshingChanged,
             &UsageStore::lastAttemptAtChanged })
        connect(m_store.data(), changed, this, &WaybarRunner::scheduleLine);
    writeLine(true);
    if (!m_closed)
        m_ticker.start();
}

void WaybarRunner::tick()
{
    writeLine(true);
}

void WaybarRunner::scheduleLine()
{
    // A refresh changes several fields one after the other; the line is
    // written once they have all settled.
    if (m_pending || m_closed)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pending = false;
            writeLine(false);
        },
        Qt::QueuedConnection);
}

void WaybarRunner::writeLine(bool evenIfUnchanged)
{
    if (m_closed || !m_store)
        return;
    std::string line = HeadlessItem::waybarJSON(HeadlessItem::terminalInputs(*m_store, ItemStyle::account));
    if (!evenIfUnchanged && line == m_lastLine)
        return;
    if (!m_writer(line)) {
        m_closed = true;
        m_ticker.stop();
        disconnect(m_store.data(), nullptr, this, nullptr);
        emit outputClosed();
        return;
    }
    m_lastLine = std::move(line);
}
