// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/connectionwidgets.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>

namespace connectionwidgets {

QTableView* makeList(QWidget* parent, QAbstractItemModel* model, int sortColumn)
{
    auto* list = new QTableView(parent);
    list->setModel(model);
    list->setShowGrid(false);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeader()->setStretchLastSection(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->horizontalHeader()->setSortIndicator(sortColumn, Qt::AscendingOrder);
    list->horizontalHeader()->setSortIndicatorShown(true);
    list->setSortingEnabled(true);
    return list;
}

QAction* addItem(QMenu* menu, const char* text, const QKeySequence& key, int id)
{
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setShortcut(key);
    action->setData(id);
    return action;
}

}  // namespace connectionwidgets
