#include "ContentModel.h"

#include "Assign.h"

#include <QRegularExpression>

void ContentModel::update(const DashboardRules::Content& content)
{
    if (assign(m_kind, static_cast<Kind>(content.kind)))
        emit kindChanged();
    if (assign(m_empty.icon, content.empty.icon))
        emit emptyIconChanged();
    if (assign(m_empty.title, content.empty.title))
        emit emptyTitleChanged();
    if (assign(m_emptyDetail, richDetail(content.empty)))
        emit emptyDetailChanged();
    if (assign(m_empty.buttonTitle, content.empty.buttonTitle))
        emit emptyButtonChanged();
    if (assign(m_showBalance, content.showBalance))
        emit showBalanceChanged();
    if (assign(m_showUsage, content.showUsage))
        emit showUsageChanged();
    if (assign(m_loading, content.loadingText.has_value()))
        emit loadingChanged();
    // The last loading text stays while the row fades out.
    if (content.loadingText && assign(m_loadingText, *content.loadingText))
        emit loadingTextChanged();
    if (assign(m_errorLine, content.errorLine.value_or(QString())))
        emit errorLineChanged();
}

QString ContentModel::richDetail(const DashboardRules::EmptyState& empty)
{
    QString html = empty.detail.toHtmlEscaped();
    if (empty.detailHasCode) {
        static const QRegularExpression code(QStringLiteral("`([^`]+)`"));
        html.replace(code, QStringLiteral("<code>\\1</code>"));
    }
    return html;
}
