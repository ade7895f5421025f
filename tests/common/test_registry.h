#pragma once
// Lets each test file of a folder register its Qt Test classes; the folder's single executable
// runs every registered class (see test_main.cpp). Exit code: number of failed classes.
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace testreg {
using Factory = std::function<std::unique_ptr<QObject>()>;
std::vector<Factory>& factories();
struct Registrar {
    explicit Registrar(Factory f) { factories().push_back(std::move(f)); }
};
} // namespace testreg

#define VARNIK_TEST_CLASS(Class)                                                                   \
    static const testreg::Registrar Class##_registrar{[] { return std::make_unique<Class>(); }};
