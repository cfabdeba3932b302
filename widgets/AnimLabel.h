// TAnimLabel: a text label that shows OriginalCaption as a ticker. The
// animation works on the label's ordinary Caption: each step rotates it left
// by one character, StartScroll rebuilds it from OriginalCaption followed by a
// ten-space gap, StopScroll blanks it.
//
// Threading: GUI thread only. The label either steps itself with its own
// timer (BuiltinTimer true) or is stepped from outside (the main window's
// scroll timer); the own timer is created on the first StartScroll and then
// lives as long as the label.
#pragma once

#include "platform/toolkit/TLabel.h"

#include <QPointF>
#include <QRawFont>
#include <QString>
#include <QTextLayout>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QRegion;

namespace platform {
class TTimer;
}

class TAnimLabel : public platform::TLabel {
    Q_OBJECT
    Q_PROPERTY(QString OriginalCaption READ OriginalCaption WRITE SetOriginalCaption)
    Q_PROPERTY(int Intervall READ Intervall WRITE SetIntervall)
    Q_PROPERTY(bool BuiltinTimer READ BuiltinTimer WRITE SetBuiltinTimer)

public:
    Q_INVOKABLE explicit TAnimLabel(QWidget* parent = nullptr);

    QString OriginalCaption() const { return m_originalCaption; }
    void SetOriginalCaption(const QString& caption) { m_originalCaption = caption; }

    int Intervall() const { return m_intervall; }
    void SetIntervall(int milliseconds) { m_intervall = milliseconds; }

    bool BuiltinTimer() const { return m_builtinTimer; }
    void SetBuiltinTimer(bool builtin) { m_builtinTimer = builtin; }

    void StartScroll();
    void ScrollStep();
    // The same as that many ScrollSteps, in one change of the caption.
    void ScrollSteps(qint64 steps);
    void StopScroll();

    // The label's own step timer, or null before the first StartScroll.
    const platform::TTimer* StepTimer() const { return m_stepTimer; }

    // Called after StartScroll and StopScroll, which make the line blank or
    // give it something to move, so an outside step timer can rest meanwhile.
    std::function<void(QObject* Sender)> OnScrollChange;

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The caption as StartScroll made it, laid out once: every step shows it
    // turned by some characters, and drawing the glyphs of its two pieces at
    // the right offsets gives the pixels QLabel would lay out anew each time.
    struct Ring {
        QString text;
        std::unique_ptr<QTextLayout> layout;
        std::vector<qreal> starts; // where each character begins; the last is the width
        qreal height = 0;
        qreal reach = 0; // how far a glyph may reach to the left of its start
        qsizetype turn = 0; // characters turned left since StartScroll
        // The line's glyphs, one for each character, when it came out so:
        // a piece is then a slice of them, with nothing looked up per paint.
        QRawFont font;
        std::vector<quint32> glyphs;
        std::vector<QPointF> positions;
    };
    // A ring for the caption when it is simple enough for the two pieces to
    // look like the turned text laid out whole, or nothing.
    std::optional<Ring> MakeRing(const QString& caption) const;
    // Whether the caption shown is still the ring turned, and the label
    // paints as QLabel's plain one-line text path does.
    bool PaintsFromRing();
    // Whether the text is the ring turned as far as it is now.
    bool ShowsRing(QStringView shown) const;
    // Takes the glyphs of a layout that gave each character one glyph of
    // one font, in the order of the characters.
    static void KeepGlyphs(Ring& ring, const QTextLine& line);
    void Turn(qsizetype characters);
    // Draws the ring's characters from..to with the ring placed at origin,
    // leaving out those that begin past right.
    void DrawCharacters(QPainter& painter, QPointF origin, qsizetype from, qsizetype to, qreal right) const;

    // The part of the label whose pixels differ between the two captions;
    // with a ring, `before` is the ring turned by `turn` and `after` one
    // character further, and their characters' advances are the ring's.
    QRegion ChangedArea(const QString& before, const QString& after, std::optional<qsizetype> turn) const;
    // Whether the label's font is fixed-pitch, resolved once per font: the
    // lookup matches a font engine, and a step comes ten times a second.
    bool FixedPitch();

    platform::TTimer* m_stepTimer = nullptr;
    QString m_originalCaption;
    int m_intervall = 0;
    bool m_builtinTimer = false;
    std::optional<bool> m_fixedPitch;
    std::optional<Ring> m_ring;
};
