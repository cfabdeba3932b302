// SPDX-License-Identifier: GPL-3.0-or-later
// TComboBox: a drop-down pick list (no free text). Text() is the shown text;
// it is empty while no item is selected. Adding items never selects one, and
// clearing the items clears the shown text.
#pragma once

#include <QComboBox>

namespace platform {

class TComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(TComboBoxStyle Style READ Style WRITE SetStyle)
    Q_PROPERTY(int ItemHeight READ ItemHeight WRITE SetItemHeight)
    Q_PROPERTY(QStringList Items READ Items WRITE SetItems)

public:
    enum TComboBoxStyle { csDropDown, csDropDownList };
    Q_ENUM(TComboBoxStyle)

    Q_INVOKABLE explicit TComboBox(QWidget* parent = nullptr);

    TComboBoxStyle Style() const { return isEditable() ? csDropDown : csDropDownList; }
    void SetStyle(TComboBoxStyle style) { setEditable(style == csDropDown); }

    int ItemHeight() const { return m_itemHeight; }
    void SetItemHeight(int height);

    QStringList Items() const;
    void SetItems(const QStringList& items);

    QString Text() const { return currentText(); }
    int Count() const { return count(); }
    QString Item(int index) const { return itemText(index); }
    void AddItem(const QString& item);
    // Appends all at once: one model insertion instead of one per item.
    void AddItems(const QStringList& items);
    void ClearItems() { clear(); }

    // Index of the first item equal to text, ignoring case; -1 if none.
    int IndexOfText(const QString& text) const;

private:
    int m_itemHeight = 13;
};

} // namespace platform
