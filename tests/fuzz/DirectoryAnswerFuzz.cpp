// SPDX-License-Identifier: GPL-3.0-or-later
// Directory answers over arbitrary bytes, delivered in pieces and twice in a
// row (the second rebuild reads what the first one kept): the pieces must
// give the stations one whole delivery gives, a second round the same again,
// only addresses of the accepted shape and no line break may enter the list,
// and the collected answer must not grow beyond what arrived.
#include "app/DirectoryAnswer.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Stations = std::vector<DirectoryAnswer::Station>;

Stations Deliver(DirectoryAnswer& directory, const std::string& answer, std::size_t piece)
{
    for (std::size_t at = 0; at < answer.size(); at += piece)
        directory.Collect(answer.substr(at, piece));
    return directory.Rebuild();
}

bool Same(const Stations& a, const Stations& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.address == y.address && x.name == y.name;
    });
}

bool Plain(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 32 * 97;
    const std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);
    DirectoryAnswer whole;
    const Stations expected = Deliver(whole, answer, answer.size() + 1);
    DirectoryAnswer directory;
    for (int round = 0; round < 2; ++round) {
        const Stations stations = Deliver(directory, answer, piece);
        FUZZ_CHECK(Same(stations, expected));
        for (const DirectoryAnswer::Station& station : stations) {
            FUZZ_CHECK(std::count(station.address.begin(), station.address.end(), '.') == 3);
            FUZZ_CHECK(Plain(station.address) && Plain(station.name));
        }
        FUZZ_CHECK(directory.Text().size() <= answer.size());
    }
    return 0;
}
