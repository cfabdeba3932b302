// SPDX-License-Identifier: GPL-3.0-or-later
// TAnimLabel: a text label that shows OriginalCaption as a ticker. The
// animation works on the label's ordinary Caption: each step rotates it left
// by one character, StartScroll rebuilds it from OriginalCaption followed by a
// ten-space gap, StopScroll blanks it.
//
// Threading: GUI thread only. The label either steps itself with its own
// timer (BuiltinTimer true) or is stepped from outside (the main window's
// scroll timer); the own timer is created on the first StartScroll and then
// lives as long as the label. Caption() is the whole turned caption; QLabel
// itself holds only the window of it that reaches across the label, so no
// paint, size hint or accessible read grows with the caption.
#pragma once

#include "platform/toolkit/TLabel.h"

#include <QFontMetricsF>
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

    // The caption turned as far as the ticker has gone, built when read.
    QString Caption() const override;
    // A caption set from outside turns as plain text until StartScroll.
    void SetCaption(const QString& caption) override;

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
    void resizeEvent(QResizeEvent* event) override;

private:
    // A run of the ring's characters laid out on its own. Where the
    // characters shown do not join or change direction, in a fixed-pitch
    // font, drawing the slices side by side gives the pixels of the whole
    // caption laid out at once, and a step's cost does not grow with it.
    struct Slice {
        qsizetype from = 0; // the ring index of its first character
        std::unique_ptr<QTextLayout> layout;
        std::vector<qreal> starts; // where each character begins; the last is the width
        qreal ascent = 0; // of its own line, whose baseline is drawn on the ring's
        // The slice's glyphs, one for each character, when it came out so:
        // a piece is then a slice of them, with nothing looked up per paint.
        QRawFont font;
        std::vector<quint32> glyphs;
        std::vector<QPointF> positions;
        quint64 used = 0; // when it was last asked for, to keep the latest few
    };
    // The caption as StartScroll made it; the caption shown is this turned
    // by `turn` characters, so a step copies nothing of a long text.
    struct Ring {
        QString text;
        qsizetype turn = 0; // characters turned left since StartScroll
        qreal reach = 0; // how far a glyph may reach to the left of its start
        // The whole caption's line: a character of a taller fallback font
        // anywhere in it lowers the baseline of all of it.
        qreal ascent = 0;
        qreal descent = 0;
        std::vector<Slice> slices; // the latest few, laid out as they come into view
        quint64 uses = 0;
    };
    // The slice that holds ring index `at`, laid out when first asked for.
    Slice& SliceAt(qsizetype at);
    Slice MakeSlice(qsizetype from) const;
    // Lays out `text` as one line, as QPainter::drawText does.
    QTextLine LayOut(QTextLayout& layout) const;
    // The ring's font-dependent measures, for the whole caption.
    void MeasureRing();
    // Whether the `count` characters from ring index `from` on are simple,
    // so that the slices' layouts stand for the whole caption's there.
    bool SimpleSpan(qsizetype from, qsizetype count);
    // The width the ring's character at `at` takes, by its slice's layout.
    qreal RingAdvance(qsizetype at);
    // Takes the glyphs of a layout that gave each character one glyph of
    // one font, in the order of the characters.
    static void KeepGlyphs(Slice& slice, const QTextLine& line, qsizetype length);

    // Whether the label paints as QLabel's plain one-line text path does,
    // and whether it may then draw the ring's slices itself.
    bool PlainLine();
    bool PaintsFromRing();
    void Turn(qsizetype characters);
    // The caption's beginning that reaches past the label's right edge:
    // all QLabel needs to lay out to show, and what a screen reader reads.
    // The caption is `head` followed by `tail`.
    QString Window(QStringView head, QStringView tail);
    QString CurrentWindow();
    // Draws the slice's characters from..to (ring indices) with the
    // slice's start at origin, leaving out those that begin past right.
    void DrawCharacters(QPainter& painter, QPointF origin, const Slice& slice, qsizetype from, qsizetype to,
                        qreal right) const;

    // The part of the label whose pixels differ between the two shown
    // windows; with a ring, `before` is the ring turned by `turn` and
    // `after` one character further, and their advances are the ring's.
    QRegion ChangedArea(const QString& before, const QString& after, std::optional<qsizetype> turn);
    // Whether the label's font is fixed-pitch, resolved once per font: the
    // lookup matches a font engine, and a step comes ten times a second.
    bool FixedPitch();
    const QFontMetricsF& Metrics();

    platform::TTimer* m_stepTimer = nullptr;
    QString m_originalCaption;
    int m_intervall = 0;
    bool m_builtinTimer = false;
    std::optional<bool> m_fixedPitch;
    std::optional<QFontMetricsF> m_metrics;
    std::optional<Ring> m_ring;
    QString m_caption; // the caption when there is no ring
};
