#include "BalanceRowModel.h"

#include "Assign.h"

void BalanceRowModel::update(const std::optional<BalanceRules::Row>& row)
{
    if (row) {
        if (assign(m_label, row->label))
            emit labelChanged();
        if (assign(m_value, row->value))
            emit valueChanged();
        if (assign(m_note, row->note.value_or(QString())))
            emit noteChanged();
    }
    if (assign(m_shown, row.has_value()))
        emit shownChanged();
}
