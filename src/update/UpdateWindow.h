#pragma once

#include <QPointer>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class UpdateSession;

// The "Software Update" window: a small ordinary window (so it gets a
// taskbar entry while it is up) that shows an UpdateSession and forwards its
// buttons. It holds no rule of its own and goes away when the session ends.
class UpdateWindow : public QWidget {
    Q_OBJECT
public:
    // Opens a window for `session`; needs a QApplication.
    static void present(UpdateSession& session);

private:
    explicit UpdateWindow(UpdateSession& session);
    void refresh();
    void refreshProgress();
    void closeEvent(QCloseEvent* event) override;

    QPointer<UpdateSession> m_session;
    QLabel* m_headline;
    QLabel* m_message;
    QPlainTextEdit* m_notes;
    QProgressBar* m_progress;
    QLabel* m_progressText;
    QHBoxLayout* m_buttons;
};
