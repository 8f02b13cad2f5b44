#include "LoginController.h"

#include "AsyncTask.h"
#include "Cancellation.h"
#include "Credential.h"
#include "Log.h"
#include "SafeText.h"

#include <QCoreApplication>
#include <QPointer>

LoginController::LoginController(std::shared_ptr<CredentialStoring> credentialStore, OAuthLogin oauth,
                                 BrowserOpener openBrowser, QObject* parent)
    : QObject(parent)
    , m_credentialStore(std::move(credentialStore))
    , m_oauth(std::move(oauth))
    , m_openBrowser(std::move(openBrowser))
{
}

// A running flow keeps going without us: it still saves a session it gets
// and logs its outcome, but publishes nothing.
LoginController::~LoginController() = default;

void LoginController::signIn()
{
    if (m_isSigningIn)
        return;
    setSigningIn(true);
    setErrorMessage(std::nullopt);
    m_task.emplace();
    startDetached(run(QPointer<LoginController>(this), ++m_generation, m_oauth, m_credentialStore, m_openBrowser,
                      m_task->get_token()));
}

void LoginController::cancel()
{
    if (m_task) {
        m_task->request_stop();
        m_task.reset();
        // Whatever the cancelled flow ends with no longer concerns the state.
        ++m_generation;
    }
    setSigningIn(false);
}

QCoro::Task<> LoginController::run(QPointer<LoginController> controller, quint64 generation, OAuthLogin oauth,
                                   std::shared_ptr<CredentialStoring> store, BrowserOpener openBrowser,
                                   std::stop_token stop)
{
    std::optional<QString> error;
    try {
        // The browser is asked from the event loop so the flow never waits on it.
        auto opener = [openBrowser](const QUrl& url) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [openBrowser, url] {
                    if (openBrowser && !openBrowser(url))
                        qCWarning(Log::auth) << "the browser could not be opened";
                },
                Qt::QueuedConnection);
        };
        // A named task: GCC 12 destroys temporaries inside co_await twice.
        auto signingIn = oauth.signIn(opener, stop);
        const StoredTokens tokens = co_await std::move(signingIn);
        // A sign-in cancelled while its tokens were on the way saves nothing.
        throwIfCancelled(stop);
        store->save(tokens);
        qCInfo(Log::auth, "browser sign-in complete, session %s stored",
               Credential::mask(tokens.accessToken).c_str());
    } catch (const std::exception& failure) {
        error = SafeText::clean(QString::fromUtf8(failure.what()));
    } catch (...) {
        error = QStringLiteral("Unknown error");
    }
    if (error)
        qCCritical(Log::auth, "browser sign-in failed: %s", qUtf8Printable(*error));
    if (controller)
        controller->finish(generation, std::move(error));
}

void LoginController::finish(quint64 generation, std::optional<QString> error)
{
    if (generation != m_generation || !m_isSigningIn)
        return;
    m_task.reset();
    setSigningIn(false);
    const bool succeeded = !error;
    setErrorMessage(std::move(error));
    if (succeeded && m_onSignedIn)
        m_onSignedIn();
}

void LoginController::setSigningIn(bool signingIn)
{
    if (m_isSigningIn == signingIn)
        return;
    m_isSigningIn = signingIn;
    emit isSigningInChanged();
}

void LoginController::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = std::move(message);
    emit errorMessageChanged();
}
