#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class AppContainer;

// The Advanced section: the API base URL field and its Apply button.
class AdvancedModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Part of the settings form")
    // The field's text; taken from the stored override each time the form comes on screen.
    Q_PROPERTY(QString draft READ draft WRITE setDraft NOTIFY draftChanged)
    // The production API base URL, shown while the field is empty.
    Q_PROPERTY(QString placeholder READ placeholder CONSTANT)
    // The draft differs from the stored override.
    Q_PROPERTY(bool canApply READ canApply NOTIFY canApplyChanged)

public:
    explicit AdvancedModel(AppContainer& container, QObject* parent = nullptr);

    const QString& draft() const { return m_draft; }
    void setDraft(const QString& draft);
    QString placeholder() const;
    bool canApply() const { return m_canApply; }

    void update();
    // The draft from the stored override.
    void reload();

    // Stores the draft as the override and points the app at it (also when
    // the text is unchanged: Return always applies).
    Q_INVOKABLE void apply();

signals:
    void draftChanged();
    void canApplyChanged();

private:
    AppContainer& m_container;
    QString m_draft;
    bool m_canApply = false;
};
