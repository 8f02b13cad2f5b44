#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <string>

class UsageStore;

// The `--waybar` output loop: one JSON line at start, one more after every
// change of the store that alters the line (changes within one turn of the
// event loop give one line; a line equal to the last is not repeated), and
// one every minute whatever happened, so that ages and staleness keep up and
// a closed output is noticed. Main thread.
class WaybarRunner : public QObject {
    Q_OBJECT
public:
    // Writes one line (without its line break); false when the reader is gone.
    using Writer = std::function<bool(const std::string& line)>;

    WaybarRunner(UsageStore& store, Writer writer, QObject* parent = nullptr);
    ~WaybarRunner() override;

    // Writes the first line at once, then follows the store.
    void start();
    // The minute's line, written even when it equals the last one.
    void tick();
    bool isClosed() const { return m_closed; }
    const std::string& lastLine() const { return m_lastLine; }

signals:
    // The writer failed: nothing more is written and the runner is idle.
    void outputClosed();

private:
    void scheduleLine();
    void writeLine(bool evenIfUnchanged);

    QPointer<UsageStore> m_store;
    Writer m_writer;
    QTimer m_ticker;
    bool m_pending = false;
    bool m_closed = false;
    std::string m_lastLine;
};
