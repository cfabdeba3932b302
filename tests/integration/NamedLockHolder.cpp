// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: takes the named lock given as the first argument, prints "held"
// or "busy", and (when held) keeps it until stdin closes or it is killed.
#include "platform/shell/NamedLock.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: named_lock_holder <name>\n";
        return 2;
    }
    const platform::NamedLock lock(argv[1]);
    std::cout << (lock.Held() ? "held" : "busy") << std::endl;
    if (!lock.Held())
        return 1;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
