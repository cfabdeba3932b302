// Info-channel bytes as the window shows them: decoded from Windows-1252 into
// the scrolling label, then stepped. The ticker must keep every character of
// the text (rotation only) however long or strange the text is.
#include "platform/toolkit/TextCodec.h"
#include "tests/fuzz/FuzzApplication.h"
#include "tests/fuzz/FuzzCheck.h"
#include "widgets/AnimLabel.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::Application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static TAnimLabel label;
    const QString text = platform::FromWin1252(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(text.size() == qsizetype(size));
    label.StopScroll();
    label.SetOriginalCaption(text);
    label.StartScroll();
    const qsizetype length = label.Caption().size();
    for (int step = 0; step < 40; ++step)
        label.ScrollStep();
    FUZZ_CHECK(label.Caption().size() == length);
    return 0;
}
