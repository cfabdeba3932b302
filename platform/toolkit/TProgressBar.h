// TProgressBar: a level bar with Min, Max and Position; no text.
#pragma once

#include <QProgressBar>

namespace platform {

class TProgressBar : public QProgressBar {
    Q_OBJECT
    Q_PROPERTY(int Min READ minimum WRITE setMinimum)
    Q_PROPERTY(int Max READ maximum WRITE setMaximum)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(bool Smooth READ Smooth WRITE SetSmooth)

public:
    Q_INVOKABLE explicit TProgressBar(QWidget* parent = nullptr);

    int Position() const { return value(); }
    void SetPosition(int position) { setValue(position); }

    bool Smooth() const { return m_smooth; }
    void SetSmooth(bool smooth) { m_smooth = smooth; }

private:
    bool m_smooth = false;
};

} // namespace platform
