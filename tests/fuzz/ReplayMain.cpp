// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target over saved inputs without libFuzzer, so the ordinary
// build replays every corpus as a plain test: each argument is a file or a
// folder of files, each file is one input. A crash or a failed check inside
// the target ends the process, which fails the test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void RunFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path where(argv[i]);
        if (std::filesystem::is_directory(where)) {
            for (const auto& entry : std::filesystem::directory_iterator(where))
                if (entry.is_regular_file()) {
                    RunFile(entry.path());
                    ++inputs;
                }
        } else {
            RunFile(where);
            ++inputs;
        }
    }
    std::printf("%zu inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
