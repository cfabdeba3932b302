// SPDX-License-Identifier: GPL-3.0-or-later
// What a hidden-and-restored main window must keep: its station list, the
// faces and latches of the Play and Stop buttons, the texts of
// both scrolling lines. Taken before hiding, compared after the way back.
//
//   h.directory.body = testsupport::TwoStations;     // before h.Create()
//   ASSERT_TRUE(testsupport::GiveWindowAState(form)); // after showing it
//   testsupport::WindowSnapshot before(form);
//   … hide, bring back …
//   EXPECT_EQ(testsupport::WindowSnapshot(form), before);
//
// No selection is compared: showing the window again runs a directory query,
// and its answer rebuilds the list with nothing selected.
//
// The scrolling lines go on moving while the window is hidden, so their shown
// captions are compared as what they must stay: a rotation of the stored text
// followed by its gap.
#pragma once

#include "app/Demo2Client.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"

#include "tests/support/EventLoop.h"

#include <QImage>
#include <QStringList>
#include <ostream>

namespace testsupport {

// True when caption is original followed by the ten-space gap, rotated left
// by some number of steps.
inline bool IsScrollOf(const QString& caption, const QString& original)
{
    const QString ring = original + QString(10, u' ');
    return caption.size() == ring.size() && (ring + ring).contains(caption);
}

struct WindowSnapshot {
    explicit WindowSnapshot(const TfmMain& form)
        : stations(form.Adressliste->Items()),
          addresses(form.Addresses()),
          playFace(form.btnconnect->Picture().toImage()),
          stopFace(form.btndisconnect->Picture().toImage()),
          playLatch(form.btnconnect->Tag()),
          stopLatch(form.btndisconnect->Tag()),
          playEnabled(form.btnconnect->isEnabled()),
          stopEnabled(form.btndisconnect->isEnabled()),
          stationName(form.Radioname->OriginalCaption()),
          info(form.Info->OriginalCaption()),
          scrolling(IsScrollOf(form.Radioname->Caption(), stationName) && IsScrollOf(form.Info->Caption(), info))
    {
    }

    bool operator==(const WindowSnapshot&) const = default;

    QStringList stations;
    std::vector<std::string> addresses;
    QImage playFace;
    QImage stopFace;
    int playLatch;
    int stopLatch;
    bool playEnabled;
    bool stopEnabled;
    QString stationName;
    QString info;
    bool scrolling;
};

inline const char* const TwoStations = "127.0.0.1:6565,Radio Eins\r\n127.0.0.2:6565,Radio Zwei\r\n";

// A shown window with the directory's two stations, Play's latch and face flipped by a right click, and both lines scrolling.
inline bool GiveWindowAState(TfmMain& form)
{
    if (!WaitUntil([&] { return form.Adressliste->Count() == 2; }, 10000))
        return false;
    form.btnconnect->SetTag(-1);
    form.btnconnect->SetPicture(form.Play3->Picture());
    form.Radioname->SetOriginalCaption(QStringLiteral("Radio Zwei"));
    form.Radioname->StartScroll();
    form.Info->SetOriginalCaption(QStringLiteral("Guten Abend"));
    form.Info->StartScroll();
    Pump(250); // a few scroll steps
    return true;
}

inline std::ostream& operator<<(std::ostream& out, const WindowSnapshot& s)
{
    return out << "stations [" << s.stations.join(u',').toStdString() << "] latches " << s.playLatch << '/' << s.stopLatch << " enabled " << s.playEnabled << '/'
               << s.stopEnabled << " name '" << s.stationName.toStdString() << "' info '" << s.info.toStdString()
               << "' scrolling " << s.scrolling;
}

} // namespace testsupport
