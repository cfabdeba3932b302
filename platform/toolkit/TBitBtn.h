// TBitBtn: a push button showing a small glyph bitmap.
#pragma once

#include <QPixmap>
#include <QPushButton>
#include <functional>

namespace platform {

class TBitBtn : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QPixmap Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
    Q_PROPERTY(QString Caption READ text WRITE setText)

public:
    Q_INVOKABLE explicit TBitBtn(QWidget* parent = nullptr);

    QPixmap Glyph() const { return m_glyph; }
    void SetGlyph(const QPixmap& glyph);

    bool TabStop() const { return focusPolicy() & Qt::TabFocus; }
    void SetTabStop(bool tabStop) { setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus); }

    std::function<void(QObject* Sender)> OnClick;

private:
    QPixmap m_glyph;
};

} // namespace platform
