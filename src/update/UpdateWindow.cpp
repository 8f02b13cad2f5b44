#include "UpdateWindow.h"

#include "UpdateSession.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

void UpdateWindow::present(UpdateSession& session)
{
    auto* window = new UpdateWindow(session);
    window->show();
    window->raise();
    window->activateWindow();
}

UpdateWindow::UpdateWindow(UpdateSession& session)
    : QWidget(nullptr, Qt::Window)
    , m_session(&session)
    , m_headline(new QLabel(this))
    , m_message(new QLabel(this))
    , m_notes(new QPlainTextEdit(this))
    , m_progress(new QProgressBar(this))
    , m_progressText(new QLabel(this))
    , m_buttons(new QHBoxLayout)
{
    setWindowTitle(tr("Software Update"));
    setMinimumWidth(460);
    QFont bold = m_headline->font();
    bold.setBold(true);
    m_headline->setFont(bold);
    m_headline->setTextFormat(Qt::PlainText);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_progressText->setTextFormat(Qt::PlainText);
    m_notes->setReadOnly(true);
    m_notes->setMinimumHeight(160);
    m_buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_headline);
    layout->addWidget(m_message);
    layout->addWidget(m_notes, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_progressText);
    layout->addLayout(m_buttons);

    connect(&session, &UpdateSession::changed, this, &UpdateWindow::refresh);
    connect(&session, &UpdateSession::progressChanged, this, &UpdateWindow::refreshProgress);
    connect(&session, &UpdateSession::raiseRequested, this, [this] {
        raise();
        activateWindow();
    });
    connect(&session, &UpdateSession::finished, this, [this] {
        hide();
        deleteLater();
    });
    connect(&session, &QObject::destroyed, this, &QObject::deleteLater);
    refresh();
}

void UpdateWindow::refresh()
{
    if (!m_session)
        return;
    m_headline->setText(m_session->headline());
    m_message->setText(m_session->message());
    m_message->setVisible(!m_session->message().isEmpty());
    m_notes->setPlainText(m_session->releaseNotes());
    m_notes->setVisible(!m_session->releaseNotes().isEmpty());
    refreshProgress();

    while (m_buttons->count() > 1) {
        QLayoutItem* item = m_buttons->takeAt(1);
        delete item->widget();
        delete item;
    }
    for (const UpdateSession::Button& button : m_session->buttons()) {
        auto* push = new QPushButton(button.label, this);
        push->setDefault(button.isDefault);
        push->setAutoDefault(button.isDefault);
        const UpdateSession::Action action = button.action;
        // Queued: the button may be deleted by what its action changes.
        connect(
            push, &QPushButton::clicked, m_session,
            [session = m_session, action] { session->trigger(action); }, Qt::QueuedConnection);
        m_buttons->addWidget(push);
        if (button.isDefault)
            push->setFocus();
    }
    adjustSize();
}

void UpdateWindow::refreshProgress()
{
    if (!m_session)
        return;
    const bool downloading = m_session->state() == UpdateSession::State::Downloading;
    const bool checking = m_session->state() == UpdateSession::State::Checking;
    m_progress->setVisible(downloading || checking);
    // A busy bar while checking or while the size is unknown.
    const qint64 expected = m_session->bytesExpected();
    if (checking || expected <= 0) {
        m_progress->setRange(0, 0);
    } else {
        m_progress->setRange(0, 1000);
        m_progress->setValue(
            static_cast<int>(std::min<qint64>(1000, m_session->bytesReceived() * 1000 / expected)));
    }
    m_progressText->setText(m_session->progressText());
    m_progressText->setVisible(downloading);
}

void UpdateWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (m_session && !m_session->isFinished())
        m_session->close();
}
