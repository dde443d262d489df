// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Widget pieces both connection views build alike.

#include <QKeySequence>
#include <QString>

class QAbstractItemModel;
class QAction;
class QMenu;
class QTableView;
class QWidget;

namespace connectionwidgets {
// A list of uniform rows for a model that grows with the traffic: a table without
// grid or row header, one row selected at a time, sorted by a clicked header.
QTableView* makeList(QWidget* parent, QAbstractItemModel* model, int sortColumn);
// A menu item with its shortcut and menu id (kept in the action's data).
QAction* addItem(QMenu* menu, const char* text, const QKeySequence& key, int id);
}  // namespace connectionwidgets
