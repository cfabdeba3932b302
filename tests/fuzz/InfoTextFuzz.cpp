// SPDX-License-Identifier: GPL-3.0-or-later
// Info-channel bytes as the window shows them: decoded from Windows-1252 into
// the scrolling label, then stepped. The ticker must keep every character of
// the text in order (a rotation, nothing lost or changed) however long or
// strange the text is.
#include "platform/core/TextCodec.h"
#include "tests/fuzz/FuzzApplication.h"
#include "tests/fuzz/FuzzCheck.h"
#include "widgets/AnimLabel.h"

#include <cstdint>
#include <string_view>

namespace {

// Set up as the window's info line is: a fixed box, so a new text changes no
// geometry and each step only swaps the caption. (A label that sized itself
// to each of the 40 captions would spend every input laying out text.)
TAnimLabel& Label()
{
    static TAnimLabel label;
    static const bool setUp = [] {
        label.SetAutoSize(false);
        label.setGeometry(16, 64, 265, 13);
        label.SetIntervall(100);
        label.SetBuiltinTimer(false);
        return true;
    }();
    (void)setUp;
    return label;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::Application();
    Label();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TAnimLabel& label = Label();
    const QString text = platform::FromWin1252(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(text.size() == qsizetype(size));
    label.StopScroll();
    label.SetOriginalCaption(text);
    label.StartScroll();
    const QString shown = label.Caption();
    FUZZ_CHECK(shown.startsWith(text) && shown.size() > text.size());
    constexpr int Steps = 40;
    for (int step = 0; step < Steps; ++step)
        label.ScrollStep();
    const qsizetype shift = Steps % shown.size();
    FUZZ_CHECK(label.Caption() == shown.mid(shift) + shown.left(shift));
    return 0;
}
