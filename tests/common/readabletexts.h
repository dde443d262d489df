// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Finds texts a window cuts off: labels, buttons, group box titles, header
// sections, rows of item views and the texts of line edits (give them their
// largest value first). Each finding names the text and the size it needs
// against the size it has.

#include <QAbstractButton>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTableView>
#include <QTreeView>

namespace readable {

inline QString describe(const QString& text, QSize needed, QSize given)
{
    return QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
        .arg(text.left(40))
        .arg(needed.width())
        .arg(needed.height())
        .arg(given.width())
        .arg(given.height());
}

// Every text of `window`'s visible widgets that does not fit.
inline QStringList cutTexts(QWidget* window)
{
    QStringList cut;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty())
            continue;
        const QSize given = label->size();
        QSize needed = label->sizeHint();
        if (label->wordWrap())
            needed = QSize(0, label->heightForWidth(label->width()));
        if (needed.width() > given.width() || needed.height() > given.height())
            cut << describe(label->text(), needed, given);
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->text().isEmpty())
            continue;
        QSize needed = button->sizeHint();
        if (qobject_cast<QPushButton*>(button)) {
            // Push buttons have a least width of the style's; only the text must fit.
            const int margins = 2 * (button->style()->pixelMetric(QStyle::PM_ButtonMargin) +
                                     button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
            needed.setWidth(button->fontMetrics().horizontalAdvance(QString(button->text()).remove(QLatin1Char('&'))) +
                            margins);
            needed.setHeight(button->fontMetrics().height());
        }
        if (needed.width() > button->width() || needed.height() > button->height())
            cut << describe(button->text(), needed, button->size());
    }
    for (QGroupBox* box : window->findChildren<QGroupBox*>()) {
        if (!box->isVisible() || box->title().isEmpty())
            continue;
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        const QRect title = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        if (title.right() > box->width())
            cut << describe(box->title(), QSize(title.right(), title.height()), box->size());
    }
    for (QHeaderView* header : window->findChildren<QHeaderView*>()) {
        if (!header->isVisible() || header->orientation() != Qt::Horizontal)
            continue;
        for (int i = 0; i < header->count(); ++i)
            if (!header->isSectionHidden(i) && header->sectionSize(i) < header->sectionSizeHint(i))
                cut << describe(header->model()->headerData(i, Qt::Horizontal).toString(),
                                QSize(header->sectionSizeHint(i), 0), QSize(header->sectionSize(i), 0));
    }
    // Rows of item views: the widest cell of each column against the column.
    for (QAbstractItemView* view : window->findChildren<QAbstractItemView*>()) {
        if (!view->isVisible() || !view->model() || qobject_cast<QHeaderView*>(view))
            continue;
        const auto* tree = qobject_cast<QTreeView*>(view);
        const auto* table = qobject_cast<QTableView*>(view);
        for (int c = 0; c < view->model()->columnCount(view->rootIndex()); ++c) {
            const int given = tree ? tree->columnWidth(c) : table ? table->columnWidth(c) : view->viewport()->width();
            const int needed = view->sizeHintForColumn(c);
            if (needed > given)
                cut << describe(view->model()->index(0, c, view->rootIndex()).data().toString(), QSize(needed, 0),
                                QSize(given, 0));
        }
    }
    // A line edit shows its whole text when, scrolled to its end, its first
    // character is still in view.
    for (QLineEdit* field : window->findChildren<QLineEdit*>()) {
        if (!field->isVisible() || field->text().isEmpty())
            continue;
        const int cursor = field->cursorPosition();
        field->end(false);
        const QRect text = field->style()->subElementRect(QStyle::SE_LineEditContents, nullptr, field);
        if (field->cursorPositionAt(QPoint(text.left() + 1, field->height() / 2)) != 0)
            cut << describe(field->text(), QSize(), field->size());
        field->setCursorPosition(cursor);
    }
    // Whatever the sizes, a text widget its parents show only in part is cut too.
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const bool text = qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
                          qobject_cast<QLineEdit*>(widget);
        if (text && widget->isVisible() && widget->visibleRegion().boundingRect() != widget->rect())
            cut << describe(widget->objectName() + widget->property("text").toString(), widget->size(),
                            widget->visibleRegion().boundingRect().size());
    }
    return cut;
}

}  // namespace readable
