#include "HeadlessItem.h"

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
    return out;
}

std::string waybarJSON(const ItemInputs& inputs)
{
    ItemInputs accountStyle = inputs;
    accountStyle.style = ItemStyle::account;
    const ItemAppearance appearance = StatusItemModel::render(accountStyle);

    std::string text = appearance.title;
    if (!text.empty() && text.front() == ' ')
        text.erase(0, 1);

    nlohmann::ordered_json line;
    line["text"] = text;
    line["tooltip"] = appearance.tooltip();
    line["class"] = StatusItemModel::waybarClasses(accountStyle);
    line["alt"] = statusName(inputs.status.kind);
    // A server's error text is shown as it came; bytes that are not UTF-8
    // become U+FFFD instead of ending the process.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string tooltipText(const ItemInputs& inputs)
{
    std::string text;
    for (std::string line : StatusItemModel::tooltipLines(inputs)) {
        // A server's message goes to a terminal here: its control bytes
        // (escape sequences, line breaks) become spaces.
        for (char& c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7f)
                c = ' ';
        }
        text += line + '\n';
    }
    return text;
}

} // namespace HeadlessItem
