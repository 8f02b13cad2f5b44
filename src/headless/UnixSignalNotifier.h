#pragma once

#include <QObject>

#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

// Turns Unix signals into a Qt signal on the event loop (the self-pipe
// trick): the handler only writes the signal's number into a socket pair,
// whose other end a QSocketNotifier reads on the main thread. One instance
// per process at a time; the previous handlers come back when it goes.
class UnixSignalNotifier : public QObject {
    Q_OBJECT
public:
    // Throws std::runtime_error when the socket pair or a handler cannot be
    // set up, or when another instance exists.
    explicit UnixSignalNotifier(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~UnixSignalNotifier() override;

signals:
    // Once per delivered signal, in order (signals of one kind that arrive
    // together may be merged by the kernel).
    void received(int signalNumber);

private:
    void drain();
    // Restores the handlers and closes the pair; safe to call twice.
    void release();

    struct Installed;
    std::vector<Installed> m_installed;
    int m_readFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
