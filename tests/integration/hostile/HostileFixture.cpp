// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/integration/hostile/HostileFixture.h"

#include "tests/support/EventLoop.h"
#include "tests/support/TonePower.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <poll.h>
#include <sys/socket.h>

namespace hostile {

void HostileWindowTest::ShowWindow()
{
    if (h.directory.body.isEmpty())
        h.directory.body = QStringLiteral("127.0.0.1:%1,Testsender\r\n").arg(server.Port()).toLatin1();
    form = &h.Create();
    form->show();
    residentBefore = residentPeak = testsupport::ResidentKib();
}

void HostileWindowTest::StartProbe()
{
    probe = std::make_unique<testsupport::LatencyProbe>(form);
}

void HostileWindowTest::Vitals(std::size_t memoryBoundKib)
{
    ASSERT_TRUE(probe) << "the test never started the probe";
    // A last round of calls: the window must still take them now.
    const int answered = probe->Answered();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return probe->Answered() > answered + 2; }, 10000))
        << "the window stopped answering";
    probe->Stop();
    residentPeak = std::max(residentPeak, testsupport::ResidentKib());
    const std::size_t grown = residentPeak > residentBefore ? residentPeak - residentBefore : 0;
    std::cout << ::testing::UnitTest::GetInstance()->current_test_info()->name() << ": worst answer "
              << probe->WorstMs() << " ms, resident peak " << residentPeak << " KiB (+" << grown << " KiB)\n";
    EXPECT_LT(probe->WorstMs(), AnswerBoundMs);
    EXPECT_LE(grown, memoryBoundKib);
    for (const auto& box : h.errors)
        ADD_FAILURE() << "error box: " << box.text.toStdString();
}

bool SendAll(int fd, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

int ToneWindows(const QByteArray& pcm, int rate, double hz, double other)
{
    const std::size_t frames = std::size_t(rate) / 4, bytes = frames * 4;
    int count = 0;
    for (qsizetype at = 0; at + qsizetype(bytes) <= pcm.size(); at += qsizetype(bytes)) {
        const auto* window = reinterpret_cast<const std::int16_t*>(pcm.constData() + at);
        if (testsupport::TonePower(window, frames, rate, hz) > 10 * testsupport::TonePower(window, frames, rate, other))
            ++count;
    }
    return count;
}

} // namespace hostile
