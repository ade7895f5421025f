#pragma once
// Lets each test file of a folder register its Qt Test classes; the folder's single executable
// runs every registered class (see test_main.cpp). Exit code: number of failed classes.
#include <QObject>
#include <QStringList>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

namespace testreg {
using Factory = std::function<std::unique_ptr<QObject>()>;
std::vector<Factory>& factories();
// What was skipped because this machine lacks something (a mount namespace, a file-size limit):
// a folder whose tests all passed but one of these ends with SkippedForEnvironment, which CTest
// reports as skipped (SKIP_RETURN_CODE), never as passed.
QStringList& skippedForEnvironment();
constexpr int SkippedForEnvironment = 77;
struct Registrar {
    explicit Registrar(Factory f) { factories().push_back(std::move(f)); }
};
} // namespace testreg

#define VARNIK_TEST_CLASS(Class)                                                                   \
    static const testreg::Registrar Class##_registrar{[] { return std::make_unique<Class>(); }};

// QSKIP for a test this machine cannot run; CTest shows the folder's test as skipped.
#define VARNIK_SKIP_ENVIRONMENT(reason)                                                            \
    do {                                                                                           \
        testreg::skippedForEnvironment().append(QStringLiteral(reason));                           \
        QSKIP(reason);                                                                             \
    } while (false)
