#include "test_registry.h"

#include <QApplication>
#include <QTest>

std::vector<testreg::Factory>& testreg::factories()
{
    static std::vector<Factory> all;
    return all;
}

QStringList& testreg::skippedForEnvironment()
{
    static QStringList reasons;
    return reasons;
}

int main(int argc, char** argv)
{
    // A widget-capable application serves both engine and window tests (offscreen under CTest).
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    int failed = 0;
    for (const auto& make : testreg::factories()) {
        auto test = make();
        if (QTest::qExec(test.get(), argc, argv) != 0)
            ++failed;
    }
    if (failed == 0 && !testreg::skippedForEnvironment().isEmpty()) {
        const QString reasons = testreg::skippedForEnvironment().join(QStringLiteral("; "));
        qWarning("every test passed or was skipped; skipped for this machine: %s", qPrintable(reasons));
        return testreg::SkippedForEnvironment;
    }
    return failed;
}
