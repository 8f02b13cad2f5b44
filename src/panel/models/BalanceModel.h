#pragma once

#include "Balance.h"
#include "BalanceRowModel.h"
#include "Timestamp.h"

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

class PanelTheme;

// The balance section: the available amount with its warning, the account
// total, and the plan, pay-as-you-go and key-limit rows.
class BalanceModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the dashboard")
    // The available balance, "$12.34".
    Q_PROPERTY(QString available READ available NOTIFY availableChanged)
    // The available balance in dollars: which way the figure rolls.
    Q_PROPERTY(double availableDollars READ availableDollars NOTIFY availableDollarsChanged)
    // Red, orange or the primary text colour.
    Q_PROPERTY(QColor heroColor READ heroColor NOTIFY heroColorChanged)
    // "Out of credit", "Low balance" or empty; its symbol.
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString statusIcon READ statusIcon NOTIFY statusIconChanged)
    // "Account total $…", or empty when it equals the available balance.
    Q_PROPERTY(QString accountTotal READ accountTotal NOTIFY accountTotalChanged)
    // The three rows.
    Q_PROPERTY(BalanceRowModel* plan READ plan CONSTANT)
    Q_PROPERTY(BalanceRowModel* payAsYouGo READ payAsYouGo CONSTANT)
    Q_PROPERTY(BalanceRowModel* keyLimit READ keyLimit CONSTANT)
    // How much of the key's limit is spent, 0…1, and the bar's colour.
    Q_PROPERTY(double keyLimitFraction READ keyLimitFraction NOTIFY keyLimitFractionChanged)
    Q_PROPERTY(QColor keyLimitTint READ keyLimitTint NOTIFY keyLimitTintChanged)

public:
    explicit BalanceModel(QObject* parent = nullptr);

    const QString& available() const { return m_available; }
    double availableDollars() const { return m_availableDollars; }
    const QColor& heroColor() const { return m_heroColor; }
    const QString& statusText() const { return m_statusText; }
    const QString& statusIcon() const { return m_statusIcon; }
    const QString& accountTotal() const { return m_accountTotal; }
    BalanceRowModel* plan() const { return m_plan; }
    BalanceRowModel* payAsYouGo() const { return m_payAsYouGo; }
    BalanceRowModel* keyLimit() const { return m_keyLimit; }
    double keyLimitFraction() const { return m_keyLimitFraction; }
    const QColor& keyLimitTint() const { return m_keyLimitTint; }

    // Without a balance the section keeps its last figures (it is hidden).
    void update(const std::optional<Balance>& balance, Timestamp now, const PanelTheme& theme);

signals:
    void availableChanged();
    void availableDollarsChanged();
    void heroColorChanged();
    void statusTextChanged();
    void statusIconChanged();
    void accountTotalChanged();
    void keyLimitFractionChanged();
    void keyLimitTintChanged();

private:
    QString m_available;
    double m_availableDollars = 0;
    QColor m_heroColor;
    QString m_statusText;
    QString m_statusIcon;
    QString m_accountTotal;
    BalanceRowModel* m_plan;
    BalanceRowModel* m_payAsYouGo;
    BalanceRowModel* m_keyLimit;
    double m_keyLimitFraction = 0;
    QColor m_keyLimitTint;
};
