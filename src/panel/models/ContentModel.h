#pragma once

#include "DashboardRules.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

// The dashboard's main area: one of three empty states, or the data column
// (balance, usage, and a loading row or an error line).
class ContentModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the dashboard")
public:
    enum class Kind { NotSignedIn, SessionExpired, CredentialRejected, Data };
    Q_ENUM(Kind)

private:
    // Which of the four the content is.
    Q_PROPERTY(Kind kind READ kind NOTIFY kindChanged)
    // The empty state's symbol, title, detail and button text.
    Q_PROPERTY(QString emptyIcon READ emptyIcon NOTIFY emptyIconChanged)
    Q_PROPERTY(QString emptyTitle READ emptyTitle NOTIFY emptyTitleChanged)
    // The detail as rich text: escaped, inline code in a fixed-pitch font.
    Q_PROPERTY(QString emptyDetail READ emptyDetail NOTIFY emptyDetailChanged)
    Q_PROPERTY(QString emptyButton READ emptyButton NOTIFY emptyButtonChanged)
    // The snapshot has a balance / usage to show.
    Q_PROPERTY(bool showBalance READ showBalance NOTIFY showBalanceChanged)
    Q_PROPERTY(bool showUsage READ showUsage NOTIFY showUsageChanged)
    // The loading row (no snapshot yet) and its text.
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString loadingText READ loadingText NOTIFY loadingTextChanged)
    // The error under the data; empty when there is none.
    Q_PROPERTY(QString errorLine READ errorLine NOTIFY errorLineChanged)

public:
    using QObject::QObject;

    Kind kind() const { return m_kind; }
    const QString& emptyIcon() const { return m_empty.icon; }
    const QString& emptyTitle() const { return m_empty.title; }
    const QString& emptyDetail() const { return m_emptyDetail; }
    const QString& emptyButton() const { return m_empty.buttonTitle; }
    bool showBalance() const { return m_showBalance; }
    bool showUsage() const { return m_showUsage; }
    bool loading() const { return m_loading; }
    const QString& loadingText() const { return m_loadingText; }
    const QString& errorLine() const { return m_errorLine; }

    void update(const DashboardRules::Content& content);

    // Outside text (a server's message) never becomes markup.
    static QString richDetail(const DashboardRules::EmptyState& empty);

signals:
    void kindChanged();
    void emptyIconChanged();
    void emptyTitleChanged();
    void emptyDetailChanged();
    void emptyButtonChanged();
    void showBalanceChanged();
    void showUsageChanged();
    void loadingChanged();
    void loadingTextChanged();
    void errorLineChanged();

private:
    Kind m_kind = Kind::Data;
    DashboardRules::EmptyState m_empty;
    QString m_emptyDetail;
    bool m_showBalance = false;
    bool m_showUsage = false;
    bool m_loading = false;
    QString m_loadingText;
    QString m_errorLine;
};
