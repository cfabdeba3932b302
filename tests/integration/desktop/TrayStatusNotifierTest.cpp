// SPDX-License-Identifier: GPL-3.0-or-later
// The notification-area icon as a StatusNotifierItem: a watcher and host of
// the test's own (sni_host) on the session's private bus sees the item
// register and leave, reads its properties and activates it the three ways a
// host can. Run in a desktop session without an XEmbed tray, so D-Bus is the
// only way the icon can be shown.
#include "app/Demo2Client.h"
#include "platform/shell/ShellAPI.h"
#include "platform/toolkit/TBitBtn.h"
#include "tests/support/EventLoop.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/WindowSnapshot.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QSize>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using testsupport::MainWindowHarness;
using testsupport::WaitUntil;
using testsupport::WindowSnapshot;

namespace {

// The watcher and host process and its line protocol.
class SniHost {
public:
    bool Start()
    {
        m_process.setProgram(QStringLiteral(SNI_HOST));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        return m_process.waitForStarted(10000) && !Next(QStringLiteral("ready")).isNull();
    }

    ~SniHost()
    {
        m_process.closeWriteChannel(); // it ends when its input does
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

    // The next line that starts with prefix (earlier lines are dropped), or a
    // null string after the timeout. The test's event loop runs meanwhile,
    // so the item in this process can answer the host's calls.
    QString Next(const QString& prefix, int timeoutMs = 15000)
    {
        QString found;
        WaitUntil([&] {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
                m_seen << line;
                if (line.startsWith(prefix)) {
                    found = line;
                    return true;
                }
            }
            return false;
        }, timeoutMs);
        return found;
    }

    void Command(const QString& line) { m_process.write((line + u'\n').toUtf8()); }

    // The item's properties by name.
    QMap<QString, QString> Properties()
    {
        Command(QStringLiteral("props"));
        QMap<QString, QString> values;
        WaitUntil([&] {
            while (m_process.canReadLine()) {
                const QString line = QString::fromUtf8(m_process.readLine()).chopped(1);
                if (line == u"end" || line.startsWith(u"error"))
                    return true;
                values.insert(line.section(u' ', 0, 0), line.section(u' ', 1));
            }
            return false;
        }, 15000);
        return values;
    }

    QString Seen() const { return m_seen.join(u'\n'); }

private:
    QProcess m_process;
    QStringList m_seen;
};

// What the window and its icon went through, for a failure message: a
// window that does not come back is otherwise a bare "false".
std::string Describe(const TfmMain& form, const QStringList& presses)
{
    return QStringLiteral("presses reported by the icon: [%1]; hidden %2, minimised %3, tool window %4")
        .arg(presses.join(u", "))
        .arg(form.isHidden())
        .arg(form.isMinimized())
        .arg(form.windowFlags().testFlag(Qt::Tool))
        .toStdString();
}

class StatusNotifierItem : public ::testing::Test {
protected:
    // Qt decides once per process whether the D-Bus tray is there, so the
    // watcher must be up before the first icon is made. The tray's own log
    // shows in a failure's output how far an activation got.
    void SetUp() override
    {
        QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.tray.debug=true\nsendolin.shell.debug=true"));
        ASSERT_TRUE(host.Start()) << "sni_host did not start";
    }
    void TearDown() override { QLoggingCategory::setFilterRules(QString()); }

    SniHost host;
};

} // namespace

TEST_F(StatusNotifierItem, EachActivationBringsTheHiddenWindowBackUnchangedAndClosingUnregisters)
{
    MainWindowHarness h;
    h.directory.body = testsupport::TwoStations;
    TfmMain& form = h.Create();
    QStringList presses; // the program itself does not listen to presses
    form.IconTaskBar->OnMouseDown = [&](QObject*, Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
        presses << QString::number(button, 16);
    };
    form.show();
    ASSERT_TRUE(platform::NotificationAreaAvailable());
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::Tool)) << "with a notification area the window has no taskbar entry";
    const QString registered = host.Next(QStringLiteral("registered "));
    ASSERT_FALSE(registered.isNull()) << "the item never registered with the watcher\n" << host.Seen().toStdString();
    const QString service = registered.section(u' ', 1, 1);

    ASSERT_TRUE(testsupport::GiveWindowAState(form));
    const WindowSnapshot before(form);
    for (const char* method : {"Activate", "SecondaryActivate", "ContextMenu"}) {
        SCOPED_TRACE(method);
        const auto queries = h.directory.requests.size();
        QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
        ASSERT_FALSE(form.isVisible()) << "the hide button did not hide the window";

        host.Command(QStringLiteral("call %1 10 10").arg(QLatin1String(method)));
        EXPECT_EQ(host.Next(QStringLiteral("ok")), QStringLiteral("ok")) << host.Seen().toStdString();
        ASSERT_TRUE(WaitUntil([&] { return form.isVisible(); }))
            << "the window did not come back; " << Describe(form, presses) << '\n' << host.Seen().toStdString();
        EXPECT_TRUE(WaitUntil([&] { return h.directory.requests.size() > queries; }))
            << "showing the window again did not run its show steps";
        EXPECT_EQ(WindowSnapshot(form), before);
    }

    form.close();
    EXPECT_EQ(host.Next(QStringLiteral("unregistered ")), QStringLiteral("unregistered ") + service)
        << "the watcher did not see the item leave\n" << host.Seen().toStdString();
}

TEST_F(StatusNotifierItem, ShowsTheApplicationIconAndNoTooltipText)
{
    MainWindowHarness h;
    TfmMain& form = h.Create();
    form.show();
    ASSERT_FALSE(host.Next(QStringLiteral("registered ")).isNull()) << host.Seen().toStdString();

    const QMap<QString, QString> properties = host.Properties();
    EXPECT_EQ(properties.value(QStringLiteral("Status")), QStringLiteral("Active"));
    EXPECT_EQ(properties.value(QStringLiteral("ToolTip")), QStringLiteral("|")) << "an empty Hint must show no tip";
    ASSERT_TRUE(properties.contains(QStringLiteral("IconPixmap")));
    const QIcon artwork = LoadApplicationIcon();
    const QStringList shown = properties.value(QStringLiteral("IconPixmap")).split(u' ', Qt::SkipEmptyParts);
    if (artwork.isNull()) {
        EXPECT_TRUE(shown.isEmpty()) << "an icon without artwork showed pictures";
    } else {
        EXPECT_FALSE(shown.isEmpty()) << "the application icon was not handed to the host";
        for (const QString& size : shown) {
            const QSize picture(size.section(u'x', 0, 0).toInt(), size.section(u'x', 1, 1).toInt());
            EXPECT_TRUE(artwork.availableSizes().contains(picture)) << size.toStdString();
        }
    }
    form.close();
}
