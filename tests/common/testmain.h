// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Several test classes in one program: each file names its class with
// NUK_TEST_CLASS(Class) instead of QTEST_MAIN, and testmain.cpp runs them in turn.

#include <QObject>

#include <memory>
#include <utility>
#include <vector>

namespace testmain {
using Make = std::unique_ptr<QObject> (*)();
inline std::vector<std::pair<const char*, Make>>& classes()
{
    static std::vector<std::pair<const char*, Make>> all;
    return all;
}
struct Add {
    Add(const char* name, Make make) { classes().emplace_back(name, make); }
};
}  // namespace testmain

#define NUK_TEST_CLASS(Class) \
    static const testmain::Add nukTest##Class(#Class, [] { return std::unique_ptr<QObject>(new Class); });
