// SPDX-License-Identifier: GPL-3.0-or-later
// TLabel: a text control. The caption is plain text ("&" is shown as is). With
// AutoSize it follows its text, otherwise it clips to its box. A label that
// was shown and is now hidden (its window hidden to the notification area)
// takes its new caption at once but works out its size only when it is shown
// again: laying out the text is most of what a caption change costs. Like every
// enabled control it keeps the clicks on it (OnClick/OnDblClick when assigned).
// The label keeps its caption itself, apart from the text QLabel shows: a
// subclass may keep a long caption its own way and hand QLabel (its paint,
// size hints and accessibility) only the part that can show.
#pragma once

#include <QLabel>
#include <functional>

namespace platform {

class TLabel : public QLabel {
    Q_OBJECT
    // AutoSize comes first, so a written form restores a fixed size before
    // the caption would resize the label.
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)

public:
    Q_INVOKABLE explicit TLabel(QWidget* parent = nullptr);

    virtual QString Caption() const { return m_caption; }
    virtual void SetCaption(const QString& caption);

    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool autoSize);

    bool Transparent() const { return !autoFillBackground(); }
    void SetTransparent(bool transparent) { setAutoFillBackground(!transparent); }

    std::function<void(QObject* Sender)> OnClick;
    std::function<void(QObject* Sender)> OnDblClick;

protected:
    // What QLabel draws and reads out for the caption.
    void ShowText(const QString& shown);

    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void FitText();

    QString m_caption;
    bool m_autoSize = true;
    bool m_shownBefore = false;
    bool m_fitPending = false;
};

} // namespace platform
