// SPDX-License-Identifier: GPL-3.0-or-later
// Presses Play on a main window whose station list names a scripted peer and
// returns that peer's two connections: the one that sent the stream greeting,
// and (through `info`) the other one. The window opens both at once, so they
// may arrive in either order. GUI thread; spins the event loop while waiting.
#pragma once

#include "app/Demo2Client.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "wire/StreamRecords.h"

#include <QTest>
#include <gtest/gtest.h>
#include <string>

namespace testsupport {

inline LoopbackPeer PressPlay(TfmMain& form, LoopbackServer& server, LoopbackPeer& info)
{
    const std::string greeting(wire::StreamGreeting);
    EXPECT_TRUE(WaitUntil([&] { return form.Adressliste->Count() == 1 && form.btnconnect->isEnabled(); }));
    form.Adressliste->setCurrentIndex(0);
    QTest::mouseClick(form.btnconnect, Qt::LeftButton, {}, QPoint(5, 5));
    LoopbackPeer a = server.Accept();
    LoopbackPeer b = server.Accept();
    EXPECT_TRUE(WaitUntil([&] { return a.Waiting() >= greeting.size() || b.Waiting() >= greeting.size(); }));
    LoopbackPeer& stream = a.Waiting() >= greeting.size() ? a : b;
    EXPECT_EQ(stream.Receive(greeting.size()), greeting);
    info = std::move(&stream == &a ? b : a);
    return std::move(stream);
}

} // namespace testsupport
