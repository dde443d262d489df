// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/itemfolder.h"

ItemFolder::ItemFolder(ItemFolder* parent, QString name, int pos, int length)
    : m_name(std::move(name)), m_pos(pos), m_length(length), m_parent(parent)
{
    if (parent)
        parent->m_children.emplace_back(this);
}
