#include "HeadlessItem.h"

#include "SafeText.h"

#include <QString>

#include <nlohmann/json.hpp>

namespace HeadlessItem {

ItemStatus itemStatus(const UsageStore::Status& status)
{
    using From = UsageStore::Status::Kind;
    using To = ItemStatus::Kind;
    switch (status.kind()) {
    case From::credentialRejected:
        return { To::credentialRejected, status.message() };
    case From::error:
        return { To::error, status.message() };
    case From::noCredential:
        return { To::noCredential, {} };
    case From::credentialExpired:
        return { To::credentialExpired, {} };
    case From::ok:
        break;
    }
    return { To::ok, {} };
}

ItemStyle itemStyle(SettingsStore::MenuBarStyle style)
{
    switch (style) {
    case SettingsStore::MenuBarStyle::iconOnly:
        return ItemStyle::iconOnly;
    case SettingsStore::MenuBarStyle::account:
        break;
    }
    return ItemStyle::account;
}

std::string_view statusName(ItemStatus::Kind kind)
{
    switch (kind) {
    case ItemStatus::Kind::credentialRejected:
        return "credentialRejected";
    case ItemStatus::Kind::error:
        return "error";
    case ItemStatus::Kind::noCredential:
        return "noCredential";
    case ItemStatus::Kind::credentialExpired:
        return "credentialExpired";
    case ItemStatus::Kind::ok:
        break;
    }
    return "ok";
}

ItemInputs inputs(const UsageStore& store, ItemStyle style)
{
    ItemInputs out;
    out.style = style;
    out.status = itemStatus(store.status());
    out.stale = store.isStale(StatusItemModel::staleAge);
    out.now = store.now();
    if (const auto& snapshot = store.snapshot()) {
        out.balance = snapshot->balance;
        out.fetchedAt = snapshot->fetchedAt;
    }
    out.loading = out.status.kind == ItemStatus::Kind::ok && !store.snapshot() && !store.lastAttemptAt();
    return out;
}

ItemInputs terminalInputs(const UsageStore& store, ItemStyle style)
{
    ItemInputs out = inputs(store, style);
    explainCredential(store.resolver(), out);
    return out;
}

void explainCredential(const CredentialResolver& resolver, ItemInputs& inputs)
{
    try {
        resolver.store()->load();
    } catch (const std::exception& error) {
        inputs.note = "Session store unreadable: " + SafeText::clean(std::string_view(error.what()));
    }
    inputs.signedOutLine = signInHint;
    if (inputs.status.kind != ItemStatus::Kind::noCredential)
        return;
    try {
        resolver.cliCredential();
    } catch (const CLICredentialReader::ReaderError& error) {
        if (error.kind() == CLICredentialReader::ReaderError::staticKey)
            inputs.signedOutLine = "API key \u2014 run `velmo login`";
    } catch (...) {
        // Any other fault of the tool's file: signing in again is the way out.
    }
}

namespace {

// waybar reads text and tooltip as Pango markup: "&" or "<" in a server's
// message would make it drop the whole tooltip.
std::string markupEscaped(const std::string& text)
{
    return QString::fromStdString(text).toHtmlEscaped().toStdString();
}

} // namespace

std::string waybarJSON(const ItemInputs& inputs)
{
    ItemInputs accountStyle = inputs;
    accountStyle.style = ItemStyle::account;
    const ItemAppearance appearance = StatusItemModel::render(accountStyle);

    std::string text = appearance.title;
    if (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    if (inputs.loading && text.empty())
        text = "\u2026";

    std::string tooltip;
    for (const std::string& tooltipLine : appearance.tooltipLines)
        tooltip += (tooltip.empty() ? "" : "\n") + SafeText::clean(tooltipLine);

    nlohmann::ordered_json line;
    line["text"] = markupEscaped(text);
    line["tooltip"] = markupEscaped(tooltip);
    line["class"] = StatusItemModel::waybarClasses(accountStyle);
    line["alt"] = statusName(inputs.status.kind);
    // Cleaned above; the handler only keeps a stray byte from ending the process.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string tooltipText(const ItemInputs& inputs)
{
    std::string text;
    // A server's message goes to a terminal here: no escape sequence, no
    // line break of its own, no invalid UTF-8.
    for (const std::string& line : StatusItemModel::tooltipLines(inputs))
        text += SafeText::clean(line) + '\n';
    return text;
}

} // namespace HeadlessItem
