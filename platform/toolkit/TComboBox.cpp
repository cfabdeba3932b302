// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only.
#include "platform/toolkit/TComboBox.h"

#include <QAbstractItemView>

namespace platform {

TComboBox::TComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
    setCurrentIndex(-1);
}

void TComboBox::SetItemHeight(int height)
{
    m_itemHeight = height;
    view()->setStyleSheet(QStringLiteral("QAbstractItemView::item { height: %1px; }").arg(height));
}

QStringList TComboBox::Items() const
{
    QStringList items;
    for (int i = 0; i < count(); ++i)
        items << itemText(i);
    return items;
}

void TComboBox::SetItems(const QStringList& items)
{
    clear();
    for (const QString& item : items)
        AddItem(item);
}

void TComboBox::AddItem(const QString& item)
{
    // QComboBox selects the first item added to an empty list; a pick list
    // shows nothing until the user picks.
    const int selected = currentIndex();
    addItem(item);
    if (currentIndex() != selected)
        setCurrentIndex(selected);
}

void TComboBox::AddItems(const QStringList& items)
{
    const int selected = currentIndex();
    addItems(items);
    if (currentIndex() != selected)
        setCurrentIndex(selected);
}

int TComboBox::IndexOfText(const QString& text) const
{
    for (int i = 0; i < count(); ++i)
        if (itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace platform
