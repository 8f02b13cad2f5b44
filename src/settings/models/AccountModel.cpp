#include "AccountModel.h"

#include "AppContainer.h"
#include "Assign.h"
#include "FormTheme.h"
#include "SafeText.h"
#include "SettingsRules.h"

AccountModel::AccountModel(AppContainer& container, QString storage, QObject* parent)
    : QObject(parent)
    , m_container(container)
    , m_storage(std::move(storage))
{
}

void AccountModel::update(const FormTheme& theme)
{
    const UsageStore& store = m_container.store();
    const LoginController& login = m_container.login();
    const auto& credential = store.credential();

    const auto via = SettingsRules::signedInVia(credential);
    if (assign(m_signedIn, via.has_value()))
        emit signedInChanged();
    if (assign(m_source, via ? via->source : QString()))
        emit sourceChanged();
    if (assign(m_masked, via ? via->masked : QString()))
        emit maskedChanged();

    // The last note stays in its fields while the row hides.
    const auto note = SettingsRules::statusNote(store.status());
    if (assign(m_note, note ? note->text : QString()))
        emit noteChanged();
    if (note && assign(m_noteIcon, note->icon))
        emit noteIconChanged();
    if (note && assign(m_noteColor, theme.color(note->color)))
        emit noteColorChanged();

    const auto row = SettingsRules::signIn(login.isSigningIn(), credential);
    if (assign(m_signInTitle, row.buttonTitle))
        emit signInTitleChanged();
    if (assign(m_busy, row.busy))
        emit busyChanged();
    if (assign(m_canCancel, row.canCancel))
        emit canCancelChanged();
    if (assign(m_canSignOut, row.canSignOut))
        emit canSignOutChanged();
    if (assign(m_error, SafeText::clean(login.errorMessageText())))
        emit errorChanged();

    const CredentialResolver& resolver = store.resolver();
    const QString cli = SettingsRules::cliStatus([&resolver] { return resolver.cliCredential(); },
        credential ? std::optional(credential->source) : std::nullopt);
    if (assign(m_cliStatus, cli))
        emit cliStatusChanged();
}

void AccountModel::signIn()
{
    m_container.login().signIn();
}

void AccountModel::cancel()
{
    m_container.login().cancel();
}

void AccountModel::signOut()
{
    if (m_canSignOut)
        m_container.signOut();
}
