#pragma once

#include "Balance.h"
#include "ColorRole.h"
#include "Timestamp.h"

#include <QString>

#include <optional>

// The balance section's figures: the hero amount with its colour and status
// label, the account-total line, the plan, pay-as-you-go and key-limit rows.
// Sums and differences are exact micro-dollar arithmetic.
namespace BalanceRules {

struct Hero {
    QString amount; // the available balance, "$12.34"
    ColorRole color = ColorRole::primary;
    QString statusText; // "Out of credit", "Low balance" or empty
    QString statusIcon; // the status label's symbol; empty without a label
    friend bool operator==(const Hero&, const Hero&) = default;
};

// Red at or below zero account balance, orange below the low-balance
// threshold, else primary.
Hero hero(const Balance& balance);

// "Account total $…" only when the available balance differs.
std::optional<QString> accountTotal(const Balance& balance);

struct Row {
    QString label;
    QString value;
    std::optional<QString> note;
    friend bool operator==(const Row&, const Row&) = default;
};

// The subscription plan's row, when there is an active or funded plan, else
// a plain go-to-market balance; none when neither is there.
std::optional<Row> planRow(const Balance& balance, Timestamp now);

// "incl. $5.00 trial · renews in 12d", "expired", or none.
std::optional<QString> planNote(const Balance::GTM& gtm, Timestamp now);

// Always shown; its note tells a capped key's usable pay-as-you-go credit.
Row payAsYouGoRow(const Balance& balance);

struct KeyLimit {
    Row row;
    double fraction = 0; // used / limit, clamped to 0…1
    ColorRole tint = ColorRole::accent;
    friend bool operator==(const KeyLimit&, const KeyLimit&) = default;
};

// None for an unlimited key.
std::optional<KeyLimit> keyLimit(const Balance& balance);

} // namespace BalanceRules
