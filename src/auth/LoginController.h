#pragma once

#include "CredentialStoring.h"
#include "OAuthLogin.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// The interface's owner of browser sign-in: views start and cancel it here and
// observe whether it runs and the last failure. A successful sign-in saves the
// session in the credential store and then calls onSignedIn. Main thread only.
class LoginController : public QObject {
    Q_OBJECT
    // A sign-in is running.
    Q_PROPERTY(bool isSigningIn READ isSigningIn NOTIFY isSigningInChanged)
    // The last failure's description; empty when there is none.
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)

public:
    // Opens a URL in the user's default browser; the answer is only logged.
    // Injected so that this library needs no Qt Gui: the application passes
    // DesktopBrowser::open (QDesktopServices::openUrl).
    using BrowserOpener = std::function<bool(const QUrl&)>;

    LoginController(std::shared_ptr<CredentialStoring> credentialStore, OAuthLogin oauth, BrowserOpener openBrowser,
                    QObject* parent = nullptr);
    ~LoginController() override;

    bool isSigningIn() const { return m_isSigningIn; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    QString errorMessageText() const { return m_errorMessage.value_or(QString()); }

    // Starts a browser sign-in unless one is running; returns at once.
    Q_INVOKABLE void signIn();
    // Abandons the running sign-in: idle at once, the error message kept. The
    // flow stops where it is (the callback port closes) and saves nothing;
    // its late outcome is only logged.
    Q_INVOKABLE void cancel();

    // Called after a successful sign-in, once the session is saved.
    void setOnSignedIn(std::function<void()> onSignedIn) { m_onSignedIn = std::move(onSignedIn); }

signals:
    void isSigningInChanged();
    void errorMessageChanged();

private:
    static QCoro::Task<> run(QPointer<LoginController> controller, quint64 generation, OAuthLogin oauth,
                             std::shared_ptr<CredentialStoring> store, BrowserOpener openBrowser, std::stop_token stop);
    // The outcome of sign-in `generation`; ignored when it is no longer the
    // current one (cancelled, or a newer sign-in started).
    void finish(quint64 generation, std::optional<QString> error);
    void setSigningIn(bool signingIn);
    void setErrorMessage(std::optional<QString> message);

    std::shared_ptr<CredentialStoring> m_credentialStore;
    OAuthLogin m_oauth;
    BrowserOpener m_openBrowser;
    std::function<void()> m_onSignedIn;
    bool m_isSigningIn = false;
    std::optional<QString> m_errorMessage;
    std::optional<std::stop_source> m_task;
    quint64 m_generation = 0;
};
