// SPDX-License-Identifier: GPL-3.0-or-later
// The layout-resource reader over arbitrary text: every fault must come back
// as the reader's own error, never as a crash, a hang or another exception,
// and whatever it builds must be freed again without trouble.
#include "app/Demo2Client.h"
#include "platform/toolkit/FormReader.h"
#include "platform/toolkit/TForm.h"
#include "tests/fuzz/FuzzApplication.h"

#include <QByteArray>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::Application();
    TfmMain::RegisterComponentClasses();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Picture names are looked up beside the resource: the real skin's folder.
    static const QString pictures = QStringLiteral(SENDOLIN_SOURCE_DIR "/app");
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    // Read into a form, as the main window reads itself: a resource whose top
    // object is a TForm fills it, with every child the text names; the form
    // owns and frees them.
    auto form = std::make_unique<platform::TForm>();
    try {
        platform::FormReader::Read(text, QStringLiteral("fuzz.form"), pictures, form.get());
    } catch (const platform::EFormError&) {
    }
    return 0;
}
