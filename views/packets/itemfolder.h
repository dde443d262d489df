// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One named node of a decoded packet's field tree. `pos` and `length` count hex
// digits of the packet's hexadecimal image (so half-byte fields can be marked);
// -1 for a node that marks no bytes. A folder owns its children, kept in display order.
//
// Plain class rather than a QObject: the tree is built for one selected packet at a
// time, but connection views keep many packets and a QObject per field costs too much.

#include <QString>

#include <memory>
#include <vector>

class ItemFolder {
public:
    // With a parent, the new folder becomes the parent's last child and is owned by it.
    ItemFolder(ItemFolder* parent, QString name, int pos = -1, int length = -1);
    ItemFolder(const ItemFolder&) = delete;
    ItemFolder& operator=(const ItemFolder&) = delete;

    const QString& folderName() const { return m_name; }
    int pos() const { return m_pos; }
    int length() const { return m_length; }
    ItemFolder* parent() const { return m_parent; }
    const std::vector<std::unique_ptr<ItemFolder>>& children() const { return m_children; }

private:
    QString m_name;
    int m_pos;
    int m_length;
    ItemFolder* m_parent;
    std::vector<std::unique_ptr<ItemFolder>> m_children;
};
