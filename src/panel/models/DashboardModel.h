#pragma once

#include "BalanceModel.h"
#include "ContentModel.h"
#include "DashboardActions.h"
#include "FooterModel.h"
#include "PanelTheme.h"
#include "StatusBadgeModel.h"
#include "UpdateBannerModel.h"
#include "UsageModel.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

class UpdaterController;
class UsageStore;

// The dashboard's root model: its parts over the usage store and the
// updater, the theme, the reduced-motion setting, and the user's actions.
// Everything is derived again whenever the store changes, and every 15 s
// for the relative times while the panel is on screen (a closed panel must
// not wake the process); each part signals only what really changed.
class DashboardModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Built by the panel's owner")
    Q_PROPERTY(PanelTheme* theme READ theme CONSTANT)
    Q_PROPERTY(StatusBadgeModel* badge READ badge CONSTANT)
    Q_PROPERTY(ContentModel* content READ content CONSTANT)
    Q_PROPERTY(BalanceModel* balance READ balance CONSTANT)
    Q_PROPERTY(UsageModel* usage READ usage CONSTANT)
    Q_PROPERTY(FooterModel* footer READ footer CONSTANT)
    Q_PROPERTY(UpdateBannerModel* banner READ banner CONSTANT)
    // Animations give way to fades and still icons.
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)

public:
    // `updater` may be null (no banner then); `store` must outlive the model.
    DashboardModel(UsageStore& store, UpdaterController* updater, DashboardActions actions, bool reduceMotion,
        QObject* parent = nullptr);

    PanelTheme* theme() const { return m_theme; }
    StatusBadgeModel* badge() const { return m_badge; }
    ContentModel* content() const { return m_content; }
    BalanceModel* balance() const { return m_balance; }
    UsageModel* usage() const { return m_usage; }
    FooterModel* footer() const { return m_footer; }
    UpdateBannerModel* banner() const { return m_banner; }
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);

    // Refresh now; ignored while a refresh is under way.
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void openSettings();
    Q_INVOKABLE void openConsole();
    Q_INVOKABLE void quit();
    // The view's measured size; passed on only when it changed.
    Q_INVOKABLE void resize(double width, double height);

    // Derives every part again from the store (also on the timer).
    void reevaluate();
    // The relative times catch up on showing and tick only while shown.
    void setOnScreen(bool onScreen);

signals:
    void reduceMotionChanged();

private:
    UsageStore& m_store;
    DashboardActions m_actions;
    PanelTheme* m_theme;
    StatusBadgeModel* m_badge;
    ContentModel* m_content;
    BalanceModel* m_balance;
    UsageModel* m_usage;
    FooterModel* m_footer;
    UpdateBannerModel* m_banner;
    bool m_reduceMotion;
    QSizeF m_reportedSize;
    QTimer m_ticker;
};
