#include "StatTileModel.h"

#include "Assign.h"

void StatTileModel::update(const UsageRules::Tile& tile)
{
    if (assign(m_tile.title, tile.title))
        emit titleChanged();
    if (assign(m_tile.value, tile.value))
        emit valueChanged();
    if (assign(m_tile.detail, tile.detail))
        emit detailChanged();
}
