// SPDX-License-Identifier: GPL-3.0-or-later
// Directory answers over arbitrary bytes, delivered in pieces and twice in a
// row (the second rebuild reads what the first one kept): the station list's
// two halves must stay the same length, only addresses of the accepted shape
// may enter it, and the collected answer must not grow beyond what arrived.
#include "app/Demo2Client.h"
#include "platform/toolkit/TComboBox.h"
#include "tests/fuzz/FuzzApplication.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

namespace {

TfmMain& Window()
{
    // No Server.ini and never shown: no query starts by itself.
    static QTemporaryDir executableDir;
    static TfmMain window(executableDir.path());
    return window;
}

void Deliver(TfmMain& window, const std::string& answer, std::size_t piece)
{
    for (std::size_t at = 0; at < answer.size(); at += piece)
        window.CollectDirectoryAnswer(answer.substr(at, piece));
    window.HTTPWSocketSessionClosed(nullptr, 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::Application();
    Window();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    TfmMain& window = Window();
    const std::size_t piece = 1 + data[0] % 32 * 97;
    const std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);
    // An empty answer of its own first: the rebuild keeps nothing above its
    // empty line, so no earlier input's leftovers reach this one's checks.
    Deliver(window, "\r\n\r\n", 4);
    for (int round = 0; round < 2; ++round) {
        Deliver(window, answer, piece);
        FUZZ_CHECK(window.Adressliste->Items().size() == qsizetype(window.Addresses().size()));
        for (const std::string& address : window.Addresses())
            FUZZ_CHECK(std::count(address.begin(), address.end(), '.') == 3);
        FUZZ_CHECK(window.DirectoryText().size() <= answer.size() * 2 + 4);
    }
    return 0;
}
