// TPanel: a plain container control; its colour comes from the form's Color.
#pragma once

#include <QFrame>

namespace platform {

class TPanel : public QFrame {
    Q_OBJECT

public:
    Q_INVOKABLE explicit TPanel(QWidget* parent = nullptr);
};

} // namespace platform
