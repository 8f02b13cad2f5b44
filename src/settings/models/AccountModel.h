#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class AppContainer;
class FormTheme;

// The Account section: how the user is signed in, the browser sign-in row,
// the velmo CLI row and where the browser session is kept.
class AccountModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the settings form")
    // A credential is in use.
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY signedInChanged)
    // Its source ("Browser sign-in", "velmo CLI (~/.velmo/tokens.json)").
    Q_PROPERTY(QString source READ source NOTIFY sourceChanged)
    // Its token, masked.
    Q_PROPERTY(QString masked READ masked NOTIFY maskedChanged)
    // The rejected or expired line; empty when there is none.
    Q_PROPERTY(QString note READ note NOTIFY noteChanged)
    // The line's symbol and colour.
    Q_PROPERTY(QString noteIcon READ noteIcon NOTIFY noteIconChanged)
    Q_PROPERTY(QColor noteColor READ noteColor NOTIFY noteColorChanged)
    // The sign-in button's title.
    Q_PROPERTY(QString signInTitle READ signInTitle NOTIFY signInTitleChanged)
    // A sign-in waits for the browser: spinner on, button off.
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // "Cancel" is offered.
    Q_PROPERTY(bool canCancel READ canCancel NOTIFY canCancelChanged)
    // "Sign Out" is offered (the app's own session only).
    Q_PROPERTY(bool canSignOut READ canSignOut NOTIFY canSignOutChanged)
    // The last browser sign-in failure; empty when there is none.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    // What the velmo CLI holds ("In use", "Signed in", "Not signed in", …).
    Q_PROPERTY(QString cliStatus READ cliStatus NOTIFY cliStatusChanged)
    // Where a browser session is kept; empty when it is kept nowhere.
    Q_PROPERTY(QString storage READ storage CONSTANT)

public:
    AccountModel(AppContainer& container, QString storage, QObject* parent = nullptr);

    bool signedIn() const { return m_signedIn; }
    const QString& source() const { return m_source; }
    const QString& masked() const { return m_masked; }
    const QString& note() const { return m_note; }
    const QString& noteIcon() const { return m_noteIcon; }
    const QColor& noteColor() const { return m_noteColor; }
    const QString& signInTitle() const { return m_signInTitle; }
    bool busy() const { return m_busy; }
    bool canCancel() const { return m_canCancel; }
    bool canSignOut() const { return m_canSignOut; }
    const QString& error() const { return m_error; }
    const QString& cliStatus() const { return m_cliStatus; }
    const QString& storage() const { return m_storage; }

    // Reads the stores, the login controller and the CLI's token file again.
    void update(const FormTheme& theme);

    Q_INVOKABLE void signIn();
    Q_INVOKABLE void cancel();
    Q_INVOKABLE void signOut();

signals:
    void signedInChanged();
    void sourceChanged();
    void maskedChanged();
    void noteChanged();
    void noteIconChanged();
    void noteColorChanged();
    void signInTitleChanged();
    void busyChanged();
    void canCancelChanged();
    void canSignOutChanged();
    void errorChanged();
    void cliStatusChanged();

private:
    AppContainer& m_container;
    bool m_signedIn = false;
    QString m_source;
    QString m_masked;
    QString m_note;
    QString m_noteIcon;
    QColor m_noteColor;
    QString m_signInTitle;
    bool m_busy = false;
    bool m_canCancel = false;
    bool m_canSignOut = false;
    QString m_error;
    QString m_cliStatus;
    QString m_storage;
};
