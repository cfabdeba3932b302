// SPDX-License-Identifier: GPL-3.0-or-later
// TProgressBar: a level bar with Min, Max and Position; no text.
#pragma once

#include <QProgressBar>
#include <QSize>

class QStyleOptionProgressBar;

namespace platform {

class TProgressBar : public QProgressBar {
    Q_OBJECT
    Q_PROPERTY(int Min READ minimum WRITE setMinimum)
    Q_PROPERTY(int Max READ maximum WRITE setMaximum)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(bool Smooth READ Smooth WRITE SetSmooth)

public:
    Q_INVOKABLE explicit TProgressBar(QWidget* parent = nullptr);

    // Positions are 0..65535 (then drawn against Min and Max); any other
    // value raises platform::Exception and leaves the bar as it is.
    static constexpr int MaxPosition = 65535;

    // What SetPosition was last given (clamped to the range); value() is
    // what the bar shows, and lags behind where the face would not change.
    int Position() const { return m_position; }
    void SetPosition(int position);

    bool Smooth() const { return m_smooth; }
    void SetSmooth(bool smooth) { m_smooth = smooth; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The number of pixels the bar's fill covers at this progress, or -1
    // where faces are not kept (a busy bar, a style whose fill rule is not
    // known). Positions with the same count look the same.
    int FilledPixels(int progress) const;
    // The pixels a full fill covers, or -1 for a style whose rule is not known.
    int FillLength() const;
    QPixmap Face(const QStyleOptionProgressBar& option, int filled) const;
    // Whether the two positions show the same face: as many pixels filled,
    // and neither end of the range reached by one position only.
    bool SameFace(int before, int after) const;
    // The position clamped to the bar's range.
    int InRange(int position) const;
    // Sets the value the bar is drawn with, without QProgressBar's own paint.
    void ShowValue(int position);

    struct FillGeometry {
        QSize size{-1, -1};
        Qt::Orientation orientation = Qt::Horizontal;
        const QStyle* style = nullptr;
        bool operator==(const FillGeometry&) const = default;
    };

    bool m_smooth = false;
    int m_position = 0;
    mutable FillGeometry m_fillGeometry;
    mutable int m_fillLength = -1;
};

} // namespace platform
