#include "StatusItemModel.h"

#include "Formatters.h"

std::string ItemAppearance::tooltip() const
{
    std::string text;
    for (std::size_t i = 0; i < tooltipLines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += tooltipLines[i];
    }
    return text;
}

namespace StatusItemModel {

using Kind = ItemStatus::Kind;

ItemAppearance render(const ItemInputs& inputs)
{
    ItemAppearance out;
    out.colorRole = colorRole(inputs);
    out.badge = badge(inputs);
    out.tooltipLines = tooltipLines(inputs);

    std::optional<std::string> balanceText;
    if (inputs.style == ItemStyle::account && inputs.balance)
        balanceText = inputs.balance->accountBalance.compact();

    // The leading space keeps the text clear of the mark.
    if (out.badge)
        out.title += ' ' + *out.badge;
    if (balanceText)
        out.title += ' ' + *balanceText;
    return out;
}

ItemColorRole colorRole(const ItemInputs& inputs)
{
    if (!inputs.balance)
        return ItemColorRole::label;
    if (inputs.balance->isEmpty())
        return ItemColorRole::red;
    if (inputs.balance->isLow())
        return ItemColorRole::orange;
    return ItemColorRole::label;
}

std::optional<std::string> badge(const ItemInputs& inputs)
{
    if (inputs.status.kind == Kind::noCredential)
        return std::string(signedOutBadge);
    if (inputs.status.kind == Kind::ok && !inputs.stale)
        return std::nullopt;
    return std::string(warningBadge);
}

std::vector<std::string> tooltipLines(const ItemInputs& inputs)
{
    std::vector<std::string> lines { std::string(appName) };
    if (inputs.balance)
        lines.push_back("Available " + inputs.balance->availableBalance.formatted() + " \u00B7 Account "
            + inputs.balance->accountBalance.formatted());
    if (inputs.fetchedAt)
        lines.push_back("Updated " + Formatters::relativePast(*inputs.fetchedAt, inputs.now));
    switch (inputs.status.kind) {
    case Kind::credentialRejected:
    case Kind::error:
        lines.push_back(inputs.status.message);
        break;
    case Kind::credentialExpired:
        lines.emplace_back("Session expired \u2014 sign in again");
        break;
    case Kind::noCredential:
        lines.push_back(inputs.signedOutLine);
        break;
    case Kind::ok:
        break;
    }
    if (inputs.note)
        lines.push_back(*inputs.note);
    return lines;
}

std::vector<std::string> waybarClasses(const ItemInputs& inputs)
{
    std::vector<std::string> classes;
    switch (inputs.status.kind) {
    case Kind::ok:
        classes.emplace_back(inputs.loading ? "loading" : "ok");
        break;
    case Kind::error:
        classes.emplace_back("error");
        break;
    case Kind::credentialRejected:
    case Kind::credentialExpired:
        classes.emplace_back("auth");
        break;
    case Kind::noCredential:
        classes.emplace_back("signed-out");
        break;
    }
    if (inputs.stale)
        classes.emplace_back("stale");
    if (inputs.balance) {
        if (inputs.balance->isEmpty())
            classes.emplace_back("empty");
        else if (inputs.balance->isLow())
            classes.emplace_back("low");
    }
    return classes;
}

} // namespace StatusItemModel
